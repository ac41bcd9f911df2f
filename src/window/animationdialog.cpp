#include "window/animationdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <limits>

#include "fileio/textio.h"
#include "picture/picturefile.h"
#include "scene/scene.h"

namespace {

constexpr qint64 kLastFrame = std::numeric_limits<qint64>::max();

// A frame number's entry; false with `why` unless it is a whole number from 0 up.
bool readFrame(const QString& text, const QString& which, qint64& frame, QString* why)
{
    const NumberText read = readWholeNumber(text.trimmed().toUtf8(), 0, kLastFrame, frame);
    if (read == NumberText::Ok)
        return true;
    *why = QDialog::tr("the %1 frame: '%2' is not a whole number from 0 up").arg(which, printable(text.toUtf8()));
    return false;
}

bool sideAllowed(int v)
{
    return v >= kMinPictureSide && v <= kMaxPictureSide;
}

} // namespace

QString animationProblem(const AnimationSettings& s, const CameraPath& path)
{
    const auto tr = [](const char* text) { return QDialog::tr(text); };
    if (path.keys.empty())
        return tr("there are no key frames: add some with Animation > Add Key Frame");
    if (s.pattern.isEmpty() && s.video.isEmpty())
        return tr("give the picture files, a video or both");
    if (!s.pattern.isEmpty() && !pictureFormatKnown(s.pattern))
        return tr("cannot tell the picture format of %1: use .png, .jpg, .bmp or .ppm").arg(printableName(s.pattern));
    if (s.first > s.last)
        return tr("the first frame comes after the last");
    if (s.first < path.firstFrame() || s.last > path.lastFrame())
        return tr("the key frames run from frame %1 to %2").arg(path.firstFrame()).arg(path.lastFrame());
    if (!s.pattern.isEmpty() && s.first < s.last && !hasFrameField(s.pattern))
        return tr("the picture files need %d or %04d in their name for the frame number");
    if (!sideAllowed(s.width) || !sideAllowed(s.height))
        return tr("a picture side is a whole number from %1 to %2").arg(kMinPictureSide).arg(kMaxPictureSide);
    if (s.supersample < 1 || s.supersample > kMaxSupersample)
        return tr("supersampling runs from 1 to %1").arg(kMaxSupersample);
    if (!s.video.isEmpty()) {
        static const QRegularExpression suffix(QStringLiteral("\\.(mp4|mkv|mov)$"),
                                               QRegularExpression::CaseInsensitiveOption);
        if (!suffix.match(s.video).hasMatch())
            return tr("cannot tell the video format of %1: use .mp4, .mkv or .mov").arg(printableName(s.video));
        if (s.fps < 1 || s.fps > kMaxFps)
            return tr("a video has 1 to %1 frames a second").arg(kMaxFps);
    }
    return QString();
}

QString framePattern(const QString& chosen)
{
    if (chosen.isEmpty() || hasFrameField(chosen))
        return chosen;
    const QFileInfo file(chosen);
    const QString suffix = file.suffix().isEmpty() ? QStringLiteral("png") : file.suffix();
    // Percent signs of the name itself stay as they are.
    const QString base = file.completeBaseName().replace('%', QStringLiteral("%%"));
    return file.dir().filePath(base + QStringLiteral("-%04d.") + suffix);
}

AnimationDialog::AnimationDialog(const AnimationSettings& initial, const CameraPath& path, bool videoOffered,
                                 QWidget* parent)
    : QDialog(parent), m_path(path)
{
    setWindowTitle(tr("Render Animation"));
    auto* form = new QFormLayout(this);

    // A row whose field is a layout: its label needs the field named for its shortcut.
    const auto labelFor = [](const QString& text, QWidget* field) {
        auto* label = new QLabel(text);
        label->setBuddy(field);
        return label;
    };

    m_pattern = new QLineEdit(initial.pattern);
    m_pattern->setMinimumWidth(m_pattern->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    m_pattern->setToolTip(tr("%04d in the name becomes the frame number, four digits at least"));
    auto* browse = new QPushButton(tr("&Browse..."));
    connect(browse, &QPushButton::clicked, this, &AnimationDialog::browsePattern);
    auto* patternRow = new QHBoxLayout;
    patternRow->addWidget(m_pattern, 1);
    patternRow->addWidget(browse);
    form->addRow(labelFor(tr("&Pictures"), m_pattern), patternRow);

    m_first = new QLineEdit(QString::number(initial.first));
    m_last = new QLineEdit(QString::number(initial.last));
    auto* frames = new QHBoxLayout;
    frames->addWidget(m_first);
    frames->addWidget(new QLabel(tr("to")));
    frames->addWidget(m_last);
    form->addRow(labelFor(tr("&Frames"), m_first), frames);

    m_smooth = new QCheckBox(tr("Smooth curve through the key frames"));
    m_smooth->setChecked(initial.smooth);
    form->addRow(QString(), m_smooth);

    const auto spin = [](int lo, int hi, int value) {
        auto* box = new QSpinBox;
        box->setRange(lo, hi);
        box->setValue(value);
        return box;
    };
    m_width = spin(kMinPictureSide, kMaxPictureSide, initial.width);
    m_height = spin(kMinPictureSide, kMaxPictureSide, initial.height);
    auto* size = new QHBoxLayout;
    size->addWidget(m_width);
    size->addWidget(new QLabel(QStringLiteral("x")));
    size->addWidget(m_height);
    form->addRow(labelFor(tr("&Size"), m_width), size);
    m_supersample = spin(1, kMaxSupersample, initial.supersample);
    m_supersample->setToolTip(tr("k x k rays a pixel, averaged"));
    form->addRow(tr("S&upersampling"), m_supersample);
    m_blur = new QCheckBox(tr("Smooth each frame with the Gaussian blur"));
    m_blur->setChecked(initial.blur);
    form->addRow(QString(), m_blur);

    if (videoOffered) {
        m_videoBox = new QGroupBox(tr("&Video"));
        m_videoBox->setCheckable(true);
        m_videoBox->setChecked(!initial.video.isEmpty());
        // A name ready beside the pictures for when the video is turned on.
        m_video = new QLineEdit(initial.video.isEmpty()
                                    ? QFileInfo(initial.pattern.isEmpty() ? QStringLiteral("x") : initial.pattern)
                                          .dir()
                                          .filePath(QStringLiteral("animation.mp4"))
                                    : initial.video);
        auto* browseVideo = new QPushButton(tr("Br&owse..."));
        connect(browseVideo, &QPushButton::clicked, this, &AnimationDialog::browseVideo);
        m_fps = spin(1, kMaxFps, initial.fps);
        m_fps->setSuffix(tr(" frames a second"));
        auto* videoForm = new QFormLayout(m_videoBox);
        auto* videoRow = new QHBoxLayout;
        videoRow->addWidget(m_video, 1);
        videoRow->addWidget(browseVideo);
        videoForm->addRow(labelFor(tr("F&ile"), m_video), videoRow);
        videoForm->addRow(tr("R&ate"), m_fps);
        form->addRow(m_videoBox);
        connect(m_videoBox, &QGroupBox::toggled, this, &AnimationDialog::check);
        connect(m_video, &QLineEdit::textChanged, this, &AnimationDialog::check);
    } else {
        form->addRow(tr("Video"), new QLabel(tr("needs the ffmpeg program, which is not installed")));
    }

    m_problem = new QLabel;
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b3261e;"));
    form->addRow(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_render = buttons->button(QDialogButtonBox::Ok);
    m_render->setText(tr("&Render"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (problem().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);

    for (QLineEdit* edit : {m_pattern, m_first, m_last})
        connect(edit, &QLineEdit::textChanged, this, &AnimationDialog::check);
    for (QSpinBox* box : {m_width, m_height, m_supersample})
        connect(box, &QSpinBox::valueChanged, this, &AnimationDialog::check);
    check();
}

AnimationSettings AnimationDialog::settings() const
{
    AnimationSettings s;
    s.pattern = m_pattern->text().trimmed();
    QString ignored;
    readFrame(m_first->text(), QString(), s.first, &ignored);
    readFrame(m_last->text(), QString(), s.last, &ignored);
    s.smooth = m_smooth->isChecked();
    s.width = m_width->value();
    s.height = m_height->value();
    s.supersample = m_supersample->value();
    s.blur = m_blur->isChecked();
    if (m_videoBox && m_videoBox->isChecked()) {
        s.video = m_video->text().trimmed();
        s.fps = m_fps->value();
    }
    return s;
}

QString AnimationDialog::problem() const
{
    qint64 frame;
    QString why;
    if (!readFrame(m_first->text(), tr("first"), frame, &why) || !readFrame(m_last->text(), tr("last"), frame, &why))
        return why;
    if (m_videoBox && m_videoBox->isChecked() && m_video->text().trimmed().isEmpty())
        return tr("give the video's file, or leave the video out");
    return animationProblem(settings(), m_path);
}

void AnimationDialog::check()
{
    const QString why = problem();
    m_problem->setText(why);
    m_problem->setVisible(!why.isEmpty());
    m_render->setEnabled(why.isEmpty());
}

void AnimationDialog::browsePattern()
{
    const QString chosen = QFileDialog::getSaveFileName(
        this, tr("Picture Files"), m_pattern->text(),
        tr("PNG picture (*.png);;JPEG picture (*.jpg *.jpeg);;BMP picture (*.bmp);;PPM picture (*.ppm)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        m_pattern->setText(framePattern(chosen));
}

void AnimationDialog::browseVideo()
{
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Video"), m_video->text(),
                                                        tr("MP4 video (*.mp4);;Matroska video (*.mkv);;QuickTime video (*.mov)"));
    if (!chosen.isEmpty())
        m_video->setText(chosen);
}
