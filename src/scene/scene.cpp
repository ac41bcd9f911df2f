#include "scene/scene.h"

void Scene::makeFigures()
{
    // All three templates are complete before any object copies one.
    Material1.SetRef(Vector3D(1.0f, 1.0f, 1.0f));
    Material1.SetCol(Vector3D(0.9f, 0.0f, 0.0f));
    Material2.SetRef(Vector3D(0.3f, 0.3f, 0.3f));
    Material2.SetCol(Vector3D(0.0f, 0.2f, 0.7f));
    Material3.SetRef(Vector3D(1.0f, 1.0f, 1.0f));
    Material3.SetCol(Vector3D(0.0f, 1.0f, 0.0f));
    Material3.SetSpe(Vector3D(0.0f, 0.9f, 0.0f));

    Sphere1.SetPos(Vector3D(3.0f, 0.0f, 3.0f));
    Sphere1.SetRad(1.0f);
    Sphere1.SetMater(Material1);
    Sphere2.SetPos(Vector3D(0.0f, 0.0f, 3.0f));
    Sphere2.SetRad(2.0f);
    Sphere2.SetMater(Material2);

    Thor1.SetPosCen(Vector3D(-2.0f, 1.0f, 1.0f));
    Thor1.SetRad(1.0f);
    Thor1.SetWid(0.4f);
    Thor1.SetMater(Material3);
    Thor2.SetPosCen(Vector3D(4.0f, 2.0f, 3.0f));
    Thor2.SetRad(0.8f);
    Thor2.SetWid(0.2f);
    Thor2.SetMater(Material2);
    Thor3.SetPosCen(Vector3D(4.0f, -2.0f, 3.0f));
    Thor3.SetRad(0.4f);
    Thor3.SetWid(0.1f);
    Thor3.SetMater(Material1);
}

void Scene::makeLights()
{
    Light1.SetPos(Vector3D(4.0f, 0.0f, 2.0f));
    Light1.SetColor(Vector3D(0.1f, 0.4f, 0.9f));
    Light1.SetConst(0.0f);
    Light1.SetLinear(0.05f);
    Light1.SetQuadric(0.05f);
    Light2.SetPos(Vector3D(-4.0f, 0.0f, 2.0f));
    Light2.SetColor(Vector3D(0.9f, 0.4f, 0.1f));
    Light2.SetConst(0.0f);
    Light2.SetLinear(0.1f);
    Light2.SetQuadric(0.05f);
}

Scene Scene::builtIn()
{
    Scene s;
    s.Wid = 1024;
    s.Hey = 768;
    s.CamPos = Vector3D(0.0f, 0.0f, -1.5f);
    s.makeFigures();
    s.makeLights();
    return s;
}

const Mater& Scene::materialOf(int numObj) const
{
    switch (numObj) {
    case 1: return Sphere1.Material;
    case 2: return Sphere2.Material;
    case 3: return Thor1.Material;
    case 4: return Thor2.Material;
    default: return Thor3.Material;
    }
}
