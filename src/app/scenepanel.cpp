#include "app/scenepanel.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>
#include <cstring>

#include "serial/serializer.h"

ScenePanel::ScenePanel(QWidget* parent) : QWidget(parent)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    const auto group = [&](const QString& title) {
        auto* box = new QGroupBox(title);
        auto* form = new QFormLayout(box);
        column->addWidget(box);
        return form;
    };

    QFormLayout* form = group(tr("Camera"));
    addVector(form, "Camera", tr("Position"), [](Scene& s) -> Vector3D& { return s.CamPos; });
    form = group(tr("Picture"));
    addSize(form, tr("Width"), [](Scene& s) -> int& { return s.Wid; });
    addSize(form, tr("Height"), [](Scene& s) -> int& { return s.Hey; });

    const auto material = [&](QFormLayout* f, const QString& name, std::function<Mater&(Scene&)> m) {
        addVector(f, name, tr("Colour"), [m](Scene& s) -> Vector3D& { return m(s).Colour; });
        addVector(f, name, tr("Specular"), [m](Scene& s) -> Vector3D& { return m(s).Specular; });
        addVector(f, name, tr("Reflectivity"), [m](Scene& s) -> Vector3D& { return m(s).Reflectivity; });
    };
    using SphereOf = Sphere& (*)(Scene&);
    const std::pair<const char*, SphereOf> spheres[] = {{"Sphere1", [](Scene& s) -> Sphere& { return s.Sphere1; }},
                                                        {"Sphere2", [](Scene& s) -> Sphere& { return s.Sphere2; }}};
    for (const auto& [name, of] : spheres) {
        form = group(name);
        addVector(form, name, tr("Position"), [of = of](Scene& s) -> Vector3D& { return of(s).Position; });
        addFloat(form, name, tr("Radius"), [of = of](Scene& s) -> float& { return of(s).Radius; });
        material(form, name, [of = of](Scene& s) -> Mater& { return of(s).Material; });
    }
    using ThorOf = Thor& (*)(Scene&);
    const std::pair<const char*, ThorOf> tori[] = {{"Thor1", [](Scene& s) -> Thor& { return s.Thor1; }},
                                                   {"Thor2", [](Scene& s) -> Thor& { return s.Thor2; }},
                                                   {"Thor3", [](Scene& s) -> Thor& { return s.Thor3; }}};
    for (const auto& [name, of] : tori) {
        form = group(name);
        addVector(form, name, tr("Centre"), [of = of](Scene& s) -> Vector3D& { return of(s).PosCen; });
        addFloat(form, name, tr("Radius"), [of = of](Scene& s) -> float& { return of(s).Radius; });
        addFloat(form, name, tr("Width"), [of = of](Scene& s) -> float& { return of(s).Width; });
        material(form, name, [of = of](Scene& s) -> Mater& { return of(s).Material; });
    }
    using LightOf = Light& (*)(Scene&);
    const std::pair<const char*, LightOf> lights[] = {{"Light1", [](Scene& s) -> Light& { return s.Light1; }},
                                                      {"Light2", [](Scene& s) -> Light& { return s.Light2; }}};
    for (const auto& [name, of] : lights) {
        form = group(name);
        addVector(form, name, tr("Position"), [of = of](Scene& s) -> Vector3D& { return of(s).Position; });
        addVector(form, name, tr("Colour"), [of = of](Scene& s) -> Vector3D& { return of(s).Colour; });
        addFloat(form, name, tr("Constant"), [of = of](Scene& s) -> float& { return of(s).ConstAttenuation; });
        addFloat(form, name, tr("Linear"), [of = of](Scene& s) -> float& { return of(s).LinearAttenuation; });
        addFloat(form, name, tr("Quadratic"), [of = of](Scene& s) -> float& { return of(s).QuadricAttenuation; });
    }
    column->addStretch();

    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    // Wide enough for every field without a horizontal scroll bar.
    scroll->setMinimumWidth(content->sizeHint().width() + scroll->verticalScrollBar()->sizeHint().width() + 4);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
}

QString ScenePanel::floatText(float v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

bool ScenePanel::readFloat(const QString& text, float* v)
{
    const QByteArray t = text.trimmed().toLatin1();
    if (t.isEmpty())
        return false;
    const char* begin = t.constData();
    if (*begin == '+')
        ++begin;
    const auto r = std::from_chars(begin, t.constData() + t.size(), *v);
    return r.ec == std::errc() && r.ptr == t.constData() + t.size() && std::isfinite(*v);
}

void ScenePanel::addFloat(QFormLayout* form, const QString& group, const QString& name,
                          std::function<float&(Scene&)> value)
{
    auto* edit = new QLineEdit;
    form->addRow(name, edit);
    m_fields.push_back({group + "/" + name, edit, std::move(value), {}});
    const Field f = m_fields.back();
    connect(edit, &QLineEdit::editingFinished, this, [this, f] { commit(f); });
}

void ScenePanel::addVector(QFormLayout* form, const QString& group, const QString& name,
                           std::function<Vector3D&(Scene&)> value)
{
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    const char* parts[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k) {
        auto* edit = new QLineEdit;
        edit->setMinimumWidth(60);
        line->addWidget(edit);
        std::function<float&(Scene&)> component = [value, k](Scene& s) -> float& {
            Vector3D& v = value(s);
            return k == 0 ? v.X : (k == 1 ? v.Y : v.Z);
        };
        m_fields.push_back({group + "/" + name + "/" + parts[k], edit, component, {}});
        const Field f = m_fields.back();
        connect(edit, &QLineEdit::editingFinished, this, [this, f] { commit(f); });
    }
    form->addRow(name, row);
}

void ScenePanel::addSize(QFormLayout* form, const QString& name, std::function<int&(Scene&)> value)
{
    auto* edit = new QLineEdit;
    form->addRow(name, edit);
    m_fields.push_back({"Picture/" + name, edit, {}, std::move(value)});
    const Field f = m_fields.back();
    connect(edit, &QLineEdit::editingFinished, this, [this, f] { commit(f); });
}

QString ScenePanel::textOf(const Field& f, Scene& s) const
{
    return f.size ? QString::number(f.size(s)) : floatText(f.value(s));
}

void ScenePanel::showScene(const Scene& scene)
{
    m_scene = scene;
    for (const Field& f : m_fields) {
        const QString text = textOf(f, m_scene);
        if (f.edit->text() != text)
            f.edit->setText(text);
    }
}

QLineEdit* ScenePanel::field(const QString& path) const
{
    for (const Field& f : m_fields)
        if (f.path == path)
            return f.edit;
    return nullptr;
}

void ScenePanel::commit(const Field& f)
{
    Scene s = m_scene;
    bool ok;
    bool changed;
    if (f.size) {
        const int v = f.edit->text().trimmed().toInt(&ok);
        ok = ok && v >= kMinPictureSide && v <= kMaxPictureSide;
        changed = ok && v != f.size(s);
        if (ok)
            f.size(s) = v;
    } else {
        float v;
        ok = readFloat(f.edit->text(), &v);
        // Compared bit for bit: 0 and -0 are different values.
        changed = ok && std::memcmp(&v, &f.value(s), sizeof v) != 0;
        if (ok)
            f.value(s) = v;
    }
    if (!ok) {
        f.edit->setText(textOf(f, m_scene));
        return;
    }
    f.edit->setText(textOf(f, s));
    if (changed)
        emit edited(s);
}
