#pragma once
// The slideshow's picture options as controls, built alike in the main window's Options tab and
// on the slideshow wizard's Options page: five check boxes, the show speed, the transition and
// the background colour. Each window lays them out and captions them itself; the output box is
// each window's own too (their dialogs differ).

#include <QStringList>
#include <array>

#include "project/project_file.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QWidget;

namespace nimbrel::ui {

class ColorButton;

// The transition box's 130 items: the 128 effects by name ("Wipe From Left"), then "Random"
// and "None". The project stores the item's index.
QStringList TransitionNames();

// "10 seconds": the show speed as the user reads it.
QString ShowSpeedText(int seconds);

struct SlideShowOptionControls {
    QCheckBox* chkCenter = nullptr;
    QCheckBox* chkAutoSize = nullptr;
    QCheckBox* chkStretch = nullptr;
    QCheckBox* chkKeepAspect = nullptr;
    QCheckBox* chkRandom = nullptr;
    QSlider* tbShowSpeed = nullptr;
    QLabel* lblShowSpeed = nullptr;  // the slider's value in seconds
    QComboBox* cboTransition = nullptr;
    ColorButton* btnBGColor = nullptr;
    // "Fit pictures to the screen" and the screen size, W x H (the sizes only while it is ticked).
    QCheckBox* chkFitPictures = nullptr;
    QSpinBox* spnFitWidth = nullptr;
    QSpinBox* spnFitHeight = nullptr;
    // "Store pictures that are already compressed", beside Fit.
    QCheckBox* chkStoreCompressed = nullptr;

    // Makes the controls as children of `parent`, in the order above, with their names, captions
    // and limits, in a new project's state: nothing ticked, speed 10 of 1..240, no transition
    // (-1), black.
    void Create(QWidget* parent);
    // A row with the speed slider and its seconds, for the window's layout.
    QWidget* CreateSpeedRow(QWidget* parent);
    // A row with the Fit check box and the two sizes, for the window's layout.
    QWidget* CreateFitRow(QWidget* parent, bool stacked = true);
    // The Fit controls to a project's values; off and 3840 x 2160 for a new project.
    void SetFit(bool fit, int width, int height);
    // The check box beside Fit; off for a new project.
    void SetStoreCompressed(bool store);
    // The five check boxes of the show, in the order above.
    std::array<QCheckBox*, 5> CheckBoxes() const;
    // Puts the controls' values into `values` (center to backgroundColor, and the Fit values);
    // the output, icon and About values are left as they are.
    void Gather(project::SlideShowValues& values) const;
};

}  // namespace nimbrel::ui
