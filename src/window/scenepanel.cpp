#include "window/scenepanel.h"

#include <QColorDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>

#include "fileio/textio.h"

namespace {

// A picture side can be typed up to this, so that a side out of range can be shown and refused
// rather than never reaching the field.
constexpr int kSideEntryMax = 99999;

const char* const kRefusedStyle = "background-color: #f6c9c4;";

// A colour component on the 0..1 scale as a channel of a swatch (not-a-number shows as 0).
float unit(float v)
{
    return v > 0 ? (v < 1 ? v : 1.0f) : 0.0f;
}

QIcon swatch(const Vector3D& c)
{
    QPixmap p(16, 16);
    p.fill(QColor::fromRgbF(unit(c.X), unit(c.Y), unit(c.Z)));
    QPainter(&p).drawRect(0, 0, 15, 15);
    return QIcon(p);
}

// A field as wide as most numbers' shortest text; a longer one scrolls in its field.
QLineEdit* numberEdit()
{
    auto* edit = new QLineEdit;
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-0.333333343")) + 12);
    return edit;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

ScenePanel::ScenePanel(QWidget* parent) : QWidget(parent)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    const auto group = [&](const QString& title) {
        auto* box = new QGroupBox(title);
        auto* form = new QFormLayout(box);
        // Rows as wide as their numbers, not as the panel.
        form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
        column->addWidget(box);
        return form;
    };

    QFormLayout* form = group(tr("Camera"));
    addVector(form, "Camera", tr("Position"), [](Scene& s) -> Vector3D& { return s.CamPos; });
    form = group(tr("Picture"));
    addSize(form, tr("Width"), [](Scene& s) -> int& { return s.Wid; });
    addSize(form, tr("Height"), [](Scene& s) -> int& { return s.Hey; });

    const auto material = [&](QFormLayout* f, const QString& name, std::function<Mater&(Scene&)> m) {
        addVector(f, name, tr("Colour"), [m](Scene& s) -> Vector3D& { return m(s).Colour; }, true);
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
        addVector(form, name, tr("Colour"), [of = of](Scene& s) -> Vector3D& { return of(s).Colour; }, true);
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
    // A click on a colour button leaves the keys where they were, not with the scroll area.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
}

void ScenePanel::addField(const Field& f)
{
    m_fields.push_back(f);
    f.editor->installEventFilter(this);
}

void ScenePanel::addFloat(QFormLayout* form, const QString& group, const QString& name,
                          std::function<float&(Scene&)> value)
{
    auto* edit = numberEdit();
    form->addRow(name, edit);
    addField({group + "/" + name, group + " " + name, edit, std::move(value), {}});
    const Field f = m_fields.back();
    connect(edit, &QLineEdit::editingFinished, this, [this, f] { commit(f); });
}

void ScenePanel::addVector(QFormLayout* form, const QString& group, const QString& name,
                           std::function<Vector3D&(Scene&)> value, bool colour)
{
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSizeConstraint(QLayout::SetFixedSize);
    const char* parts[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k) {
        auto* edit = numberEdit();
        line->addWidget(edit);
        std::function<float&(Scene&)> component = [value, k](Scene& s) -> float& {
            Vector3D& v = value(s);
            return k == 0 ? v.X : (k == 1 ? v.Y : v.Z);
        };
        addField({group + "/" + name + "/" + parts[k], group + " " + name + " " + parts[k], edit, component, {}});
        const Field f = m_fields.back();
        connect(edit, &QLineEdit::editingFinished, this, [this, f] { commit(f); });
    }
    if (colour) {
        auto* button = new QToolButton;
        button->setToolTip(tr("Pick the colour"));
        line->addWidget(button);
        m_colours.push_back({group + "/" + name, button, value});
        const Colour c = m_colours.back();
        connect(button, &QToolButton::clicked, this, [this, c] { pickColour(c); });
    }
    form->addRow(name, row);
}

void ScenePanel::addSize(QFormLayout* form, const QString& name, std::function<int&(Scene&)> value)
{
    auto* spin = new QSpinBox;
    spin->setRange(0, kSideEntryMax);
    // Taken when the entry is finished or a step is made, not at every key.
    spin->setKeyboardTracking(false);
    // The wheel scrolls the panel; it steps a side only in the field being edited.
    spin->setFocusPolicy(Qt::StrongFocus);
    form->addRow(name, spin);
    addField({"Picture/" + name, tr("Picture") + " " + name, spin, {}, std::move(value)});
    const Field f = m_fields.back();
    connect(spin, &QSpinBox::valueChanged, this, [this, f] { commit(f); });
}

QString ScenePanel::textOf(const Field& f, Scene& s) const
{
    return f.size ? QString::number(f.size(s)) : floatText(f.value(s));
}

void ScenePanel::showValue(const Field& f)
{
    if (auto* spin = qobject_cast<QSpinBox*>(f.editor)) {
        const QSignalBlocker quiet(spin);
        spin->setValue(f.size(m_scene));
        return;
    }
    auto* edit = static_cast<QLineEdit*>(f.editor);
    const QString text = textOf(f, m_scene);
    if (edit->text() != text)
        edit->setText(text);
}

void ScenePanel::showScene(const Scene& scene)
{
    Scene before = m_scene;
    m_scene = scene;
    for (const Field& f : m_fields) {
        if (f.editor->property("refused").toBool()) {
            const bool same = f.size ? f.size(before) == f.size(m_scene) : sameBits(f.value(before), f.value(m_scene));
            if (same)
                continue;
            unmark(f);
        }
        showValue(f);
    }
    for (const Colour& c : m_colours)
        c.button->setIcon(swatch(c.value(m_scene)));
}

QWidget* ScenePanel::field(const QString& path) const
{
    for (const Field& f : m_fields)
        if (f.path == path)
            return f.editor;
    return nullptr;
}

QAbstractButton* ScenePanel::colourButton(const QString& path) const
{
    for (const Colour& c : m_colours)
        if (c.path == path)
            return c.button;
    return nullptr;
}

bool ScenePanel::isRefused(const QString& path) const
{
    const QWidget* editor = field(path);
    return editor && editor->property("refused").toBool();
}

void ScenePanel::refuse(const Field& f, const QString& why)
{
    f.editor->setProperty("refused", true);
    f.editor->setStyleSheet(kRefusedStyle);
    f.editor->setToolTip(why);
    emit refused(f.label + ": " + why);
}

void ScenePanel::unmark(const Field& f)
{
    if (!f.editor->property("refused").toBool())
        return;
    f.editor->setProperty("refused", false);
    f.editor->setStyleSheet(QString());
    f.editor->setToolTip(QString());
}

void ScenePanel::commit(const Field& f)
{
    Scene s = m_scene;
    bool changed;
    if (auto* spin = qobject_cast<QSpinBox*>(f.editor)) {
        const int v = spin->value();
        if (v < kMinPictureSide || v > kMaxPictureSide) {
            refuse(f, tr("a picture side is a whole number from %1 to %2").arg(kMinPictureSide).arg(kMaxPictureSide));
            return;
        }
        changed = v != f.size(s);
        f.size(s) = v;
    } else {
        float v;
        QString why;
        if (!readFloatEntry(static_cast<QLineEdit*>(f.editor)->text(), v, &why)) {
            refuse(f, why);
            return;
        }
        // Compared bit for bit: 0 and -0 are different values.
        changed = !sameBits(v, f.value(s));
        f.value(s) = v;
    }
    unmark(f);
    if (changed) {
        emit edited(s);
    } else {
        // The same value in other words ("0.50"): shown as stored.
        showValue(f);
    }
}

bool ScenePanel::isTaken(const Field& f)
{
    if (f.editor->property("refused").toBool())
        return false;
    if (auto* spin = qobject_cast<QSpinBox*>(f.editor))
        return spin->cleanText() == textOf(f, m_scene);
    return static_cast<QLineEdit*>(f.editor)->text() == textOf(f, m_scene);
}

const ScenePanel::Field* ScenePanel::fieldOf(const QObject* editor) const
{
    for (const Field& f : m_fields)
        if (f.editor == editor)
            return &f;
    return nullptr;
}

bool ScenePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && qobject_cast<QSpinBox*>(watched) &&
        !static_cast<QWidget*>(watched)->hasFocus()) {
        // Passed on to the scroll area.
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool undoKey = key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
                             key->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
        const Field* f = fieldOf(watched);
        if (undoKey && f && isTaken(*f)) {
            // Not claimed by the field, so the window's undo and redo take the key.
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ScenePanel::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void ScenePanel::pickColour(const Colour& c)
{
    const Vector3D now = c.value(m_scene);
    const QColor initial = QColor::fromRgbF(unit(now.X), unit(now.Y), unit(now.Z));
    const QString title = c.path.section('/', 0, 0) + " " + c.path.section('/', 1);
    const QColor picked = m_colourAsker ? m_colourAsker(initial, title) : QColorDialog::getColor(initial, this, title);
    emit colourDialogClosed();
    // OK with the colour as offered changes nothing: the dialog works in 8-bit channels, which
    // would otherwise round the scene's colour (0.9 would become 230 / 255).
    if (!picked.isValid() || picked.rgb() == initial.rgb())
        return;
    Scene s = m_scene;
    // Channels of 0..255 on the 0..1 scale, divided in double and stored as floats.
    c.value(s) = Vector3D(float(picked.red() / 255.0), float(picked.green() / 255.0), float(picked.blue() / 255.0));
    if (std::memcmp(&c.value(s), &c.value(m_scene), sizeof(Vector3D)) != 0)
        emit edited(s);
}
