#pragma once

#include "common/deployconfig.h"

#include <QDialog>

namespace kestro::ui {

// "INFO": the program's name and version and a link to the maker. Stays above other
// windows while open.
class FrmInfo : public QDialog {
    Q_OBJECT
public:
    explicit FrmInfo(const DeployConfig& config, QWidget* parent = nullptr);
};

} // namespace kestro::ui
