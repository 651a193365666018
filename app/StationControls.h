#pragma once

#include "app/DropDownComboBox.h"
#include "app/PictureBox.h"
#include "app/TFormLoadingUI.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace vrax {

// A control of the station window by its object name, for the bench, the benchmarks and the
// tests: the window keeps its controls to itself. A name that is not there ends the program,
// since every caller relies on the window's fixed layout.
template <typename Control> Control* FindControl(const QObject& window, const char* name) {
    auto* control = window.findChild<Control*>(QString::fromLatin1(name));
    if (control == nullptr) {
        std::fprintf(stderr, "the station window has no control named %s\n", name);
        std::abort();
    }
    return control;
}

} // namespace vrax
