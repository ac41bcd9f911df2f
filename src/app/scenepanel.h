#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "scene/scene.h"

class QFormLayout;
class QLineEdit;

// The scene's values, each in a field that can be edited in place: the camera, the picture
// size, the five objects and the two lights. Numbers show as the stored floats, in the shortest
// text that reads back to the same float. An edit that reads as a finite float (a whole number
// from 1 to 8192 for the sizes) gives a new scene; any other is refused and the field shows the
// stored value again.
class ScenePanel : public QWidget {
    Q_OBJECT

public:
    explicit ScenePanel(QWidget* parent = nullptr);

    // Shows `scene`'s values.
    void showScene(const Scene& scene);
    // The field of a value, by its label path such as "Thor2/Radius" or "Camera/X".
    QLineEdit* field(const QString& path) const;

    // The shortest text that reads back to the same float.
    static QString floatText(float v);
    // The float a field's text stands for; false unless it reads whole as a finite float.
    static bool readFloat(const QString& text, float* v);

signals:
    // A field was edited: the scene with the new value.
    void edited(const Scene& scene);

private:
    struct Field {
        QString path;
        QLineEdit* edit;
        std::function<float&(Scene&)> value; // float fields
        std::function<int&(Scene&)> size;    // picture sizes
    };
    void addFloat(QFormLayout* form, const QString& group, const QString& name, std::function<float&(Scene&)> value);
    void addVector(QFormLayout* form, const QString& group, const QString& name,
                   std::function<Vector3D&(Scene&)> value);
    void addSize(QFormLayout* form, const QString& name, std::function<int&(Scene&)> value);
    void commit(const Field& f);
    QString textOf(const Field& f, Scene& s) const;

    Scene m_scene;
    std::vector<Field> m_fields;
};
