#include "ui/slideshow_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>

#include "imaging/transitions.h"
#include "ui/color_button.h"
#include "project/value_ranges.h"
#include "ui/form_helpers.h"

namespace nimbrel::ui {

QStringList TransitionNames() {
    // Each effect by its own name, in the order the project stores it (item i plays effect i).
    QStringList names;
    for (int i = 0; i < imaging::TransitionCount(); ++i)
        names << QString::fromStdString(imaging::TransitionName(i));
    names << QStringLiteral("Random") << QStringLiteral("None");
    return names;
}

QString ShowSpeedText(int seconds) {
    return seconds == 1 ? QObject::tr("1 second") : QObject::tr("%1 seconds").arg(seconds);
}

void SlideShowOptionControls::Create(QWidget* parent) {
    chkCenter = Named(new QCheckBox(QObject::tr("&Center Images Within Screen"), parent), "chkCenter");
    chkAutoSize =
        Named(new QCheckBox(QObject::tr("&AutoSize Images To Fit Within Screen"), parent), "chkAutoSize");
    chkStretch = Named(new QCheckBox(QObject::tr("Stretch Images To ScreenSize"), parent), "chkStretch");
    chkKeepAspect = Named(new QCheckBox(QObject::tr("Keep Aspect Ratio"), parent), "chkKeepAspect");
    chkRandom = Named(new QCheckBox(QObject::tr("&Random Show Order"), parent), "chkRandom");

    tbShowSpeed = Named(new QSlider(Qt::Horizontal, parent), "tbShowSpeed");
    tbShowSpeed->setRange(project::kMinShowSpeed, project::kMaxShowSpeed);
    tbShowSpeed->setPageStep(10);
    tbShowSpeed->setTickInterval(2);
    tbShowSpeed->setTickPosition(QSlider::TicksAbove);
    tbShowSpeed->setValue(10);
    // The seconds a picture stays, beside the slider and in its tooltip, following it.
    lblShowSpeed = Named(new QLabel(parent), "lblShowSpeed");
    const auto showSeconds = [label = lblShowSpeed, slider = tbShowSpeed](int seconds) {
        label->setText(ShowSpeedText(seconds));
        slider->setToolTip(QObject::tr("Each picture stays %1").arg(ShowSpeedText(seconds)));
    };
    showSeconds(tbShowSpeed->value());
    QObject::connect(tbShowSpeed, &QSlider::valueChanged, lblShowSpeed, showSeconds);
    lblShowSpeed->setMinimumWidth(lblShowSpeed->fontMetrics().horizontalAdvance(ShowSpeedText(240)) + 4);

    cboTransition = Named(new QComboBox(parent), "cboTransition");
    cboTransition->setEditable(true);
    cboTransition->setInsertPolicy(QComboBox::NoInsert);
    cboTransition->addItems(TransitionNames());
    cboTransition->setMaxVisibleItems(16);
    cboTransition->setCurrentIndex(-1);

    btnBGColor = Named(new ColorButton(parent), "btnBGColor");  // starts black (0)
}

QWidget* SlideShowOptionControls::CreateSpeedRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tbShowSpeed, 1);
    layout->addWidget(lblShowSpeed);
    return row;
}

QWidget* SlideShowOptionControls::CreateFitRow(QWidget* parent, bool stacked) {
    // Stacked: the check box on a line of its own and the size below it, so that neither is cut
    // in a narrow column; otherwise all on one line, where height is short.
    auto* row = new QWidget(parent);
    auto* rows = new QVBoxLayout(row);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    chkFitPictures = Named(new QCheckBox(QObject::tr("&Fit pictures to the screen"), row), "chkFitPictures");
    chkFitPictures->setToolTip(QObject::tr(
        "Pictures larger than this size are shrunk when the show is compiled, so the screensaver is smaller "
        "and starts faster"));
    auto makeSide = [row](const char* name, int value) {
        auto* box = Named(new QSpinBox(row), name);
        box->setRange(16, 16384);
        box->setValue(value);
        box->setEnabled(false);
        return box;
    };
    spnFitWidth = makeSide("spnFitWidth", 3840);
    spnFitHeight = makeSide("spnFitHeight", 2160);
    QObject::connect(chkFitPictures, &QCheckBox::toggled, spnFitWidth, &QWidget::setEnabled);
    QObject::connect(chkFitPictures, &QCheckBox::toggled, spnFitHeight, &QWidget::setEnabled);
    chkStoreCompressed = Named(
        new QCheckBox(QObject::tr("Store pictures that are already &compressed"), row), "chkStoreCompressed");
    chkStoreCompressed->setToolTip(QObject::tr(
        "JPEG, PNG, GIF, WebP, HEIF and AVIF pictures go into the screensaver as they are: compiling "
        "is much faster and the screensaver only slightly larger"));
    if (stacked) {
        rows->addWidget(chkFitPictures);
        layout->addSpacing(20);
    } else {
        layout->addWidget(chkFitPictures);
    }
    rows->addLayout(layout);
    layout->addWidget(spnFitWidth);
    layout->addWidget(new QLabel(QStringLiteral("x"), row));
    layout->addWidget(spnFitHeight);
    layout->addStretch();
    // A row of its own: beside the sizes it would widen the column that holds them. The wizard's
    // page has no room for it; a new project starts without it and the Options tab offers it.
    if (stacked) {
        rows->addWidget(chkStoreCompressed);
    } else {
        chkStoreCompressed->hide();
    }
    return row;
}

void SlideShowOptionControls::SetFit(bool fit, int width, int height) {
    chkFitPictures->setChecked(fit);
    spnFitWidth->setEnabled(fit);
    spnFitHeight->setEnabled(fit);
    spnFitWidth->setValue(width);  // the boxes clamp into 16..16384
    spnFitHeight->setValue(height);
}

void SlideShowOptionControls::SetStoreCompressed(bool store) {
    chkStoreCompressed->setChecked(store);
}

std::array<QCheckBox*, 5> SlideShowOptionControls::CheckBoxes() const {
    return {chkCenter, chkAutoSize, chkStretch, chkKeepAspect, chkRandom};
}

void SlideShowOptionControls::Gather(project::SlideShowValues& values) const {
    values.center = chkCenter->isChecked();
    values.autoSize = chkAutoSize->isChecked();
    values.stretch = chkStretch->isChecked();
    values.keepAspect = chkKeepAspect->isChecked();
    values.random = chkRandom->isChecked();
    values.showSpeed = tbShowSpeed->value();
    values.transition = cboTransition->currentIndex();
    values.backgroundColor = btnBGColor->color();
    if (chkFitPictures) {
        values.fitPictures = chkFitPictures->isChecked();
        values.fitWidth = spnFitWidth->value();
        values.fitHeight = spnFitHeight->value();
        values.storeCompressed = chkStoreCompressed->isChecked();
    }
}

}  // namespace nimbrel::ui
