#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

#include "scene/scene.h"

class QAbstractButton;
class QFormLayout;

// The scene's values, each in a field that can be edited in place: the camera, the picture
// size, the five objects and the two lights. Numbers show as the stored floats, in the shortest
// text that reads back to the same float; the picture sides are spin boxes, and every colour
// has a button that picks it from a colour dialog. An edit that reads as a finite float (a
// whole number from 1 to 8192 for the sides) gives a new scene; any other stays in its field,
// marked, with the reason in the field's tooltip and sent out by refused().
//
// Undo and redo keys in a field whose value is taken (nothing typed since) go to the window's
// scene undo; while a field holds typing of its own, they undo that typing.
class ScenePanel : public QWidget {
    Q_OBJECT

public:
    explicit ScenePanel(QWidget* parent = nullptr);

    // Shows `scene`'s values. A refused entry stays in its field until the value it was meant
    // for changes.
    void showScene(const Scene& scene);
    // The editor of a value (a QLineEdit, or a QSpinBox for the picture sides), by its label
    // path such as "Thor2/Radius", "Camera/Position/X" or "Picture/Width".
    QWidget* field(const QString& path) const;
    // The button that picks a colour, by its path such as "Light1/Colour".
    QAbstractButton* colourButton(const QString& path) const;
    // True while the field of `path` holds an entry that was refused.
    bool isRefused(const QString& path) const;

    // Asks for a colour, starting from `initial`; an invalid colour means cancelled. Replaced
    // by tests so that no dialog opens.
    using ColourAsker = std::function<QColor(const QColor& initial, const QString& title)>;
    void setColourAsker(ColourAsker asker) { m_colourAsker = std::move(asker); }

signals:
    // A field was edited: the scene with the new value.
    void edited(const Scene& scene);
    // An entry was refused: which value and why.
    void refused(const QString& why);
    // A colour dialog has closed, picked or not: the keys may go back to the camera.
    void colourDialogClosed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keys typed into the panel stay there: a field lets Return pass on, which must not reach
    // the camera keys.
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Field {
        QString path;
        QString label;                       // the value's name for messages, "Thor2 Radius"
        QWidget* editor;
        std::function<float&(Scene&)> value; // float fields
        std::function<int&(Scene&)> size;    // picture sides
    };
    struct Colour {
        QString path;
        QAbstractButton* button;
        std::function<Vector3D&(Scene&)> value;
    };
    void addFloat(QFormLayout* form, const QString& group, const QString& name, std::function<float&(Scene&)> value);
    void addVector(QFormLayout* form, const QString& group, const QString& name,
                   std::function<Vector3D&(Scene&)> value, bool colour = false);
    void addSize(QFormLayout* form, const QString& name, std::function<int&(Scene&)> value);
    void addField(const Field& f);
    void commit(const Field& f);
    void refuse(const Field& f, const QString& why);
    void unmark(const Field& f);
    // Shows the field's stored value.
    void showValue(const Field& f);
    QString textOf(const Field& f, Scene& s) const;
    // True when the field shows its stored value and nothing else.
    bool isTaken(const Field& f);
    void pickColour(const Colour& c);
    const Field* fieldOf(const QObject* editor) const;

    Scene m_scene;
    std::vector<Field> m_fields;
    std::vector<Colour> m_colours;
    ColourAsker m_colourAsker;
};
