#include "window/exportdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "picture/supersample.h"

ExportDialog::ExportDialog(const ExportSettings& initial, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Export Picture"));
    const auto side = [](int value) {
        auto* box = new QSpinBox;
        box->setRange(kMinPictureSide, kMaxPictureSide);
        box->setValue(value);
        box->setSuffix(tr(" px"));
        return box;
    };
    m_width = side(initial.width);
    m_height = side(initial.height);
    m_supersample = new QSpinBox;
    m_supersample->setRange(1, kMaxSupersample);
    m_supersample->setValue(initial.supersample);
    m_blur = new QCheckBox(tr("Smooth with the Gaussian blur after"));
    m_blur->setChecked(initial.blur);
    m_rays = new QLabel;
    m_rays->setWordWrap(true);
    // Room for the longest note in two lines, so that no note is cut.
    const QString longest = tr("%1 x %1 rays a pixel (%2 x %3 in all), averaged")
                                .arg(kMaxSupersample)
                                .arg(qint64(kMaxSupersample) * kMaxPictureSide)
                                .arg(qint64(kMaxSupersample) * kMaxPictureSide);
    m_rays->setMinimumWidth(m_rays->fontMetrics().horizontalAdvance(longest) / 2 + 40);
    m_rays->setMinimumHeight(2 * m_rays->fontMetrics().lineSpacing());

    auto* form = new QFormLayout(this);
    form->addRow(tr("&Width"), m_width);
    form->addRow(tr("&Height"), m_height);
    form->addRow(tr("&Supersampling"), m_supersample);
    form->addRow(QString(), m_rays);
    form->addRow(QString(), m_blur);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Choose &File..."));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    for (QSpinBox* box : {m_width, m_height, m_supersample})
        connect(box, &QSpinBox::valueChanged, this, &ExportDialog::explain);
    explain();
}

void ExportDialog::explain()
{
    const int k = m_supersample->value();
    m_rays->setText(k == 1 ? tr("One ray a pixel")
                           : tr("%1 x %1 rays a pixel (%2 x %3 in all), averaged")
                                 .arg(k)
                                 .arg(qint64(k) * m_width->value())
                                 .arg(qint64(k) * m_height->value()));
}

ExportSettings ExportDialog::settings() const
{
    return {m_width->value(), m_height->value(), m_supersample->value(), m_blur->isChecked()};
}
