#pragma once

#include "common/deployconfig.h"

#include <QDialog>

class QLabel;

namespace kestro::ui {

// The welcome window of the first start: says what comes next (choosing or creating the
// database, then the master data) before the database dialog opens.
class FrmWelcom : public QDialog {
    Q_OBJECT
public:
    explicit FrmWelcom(const DeployConfig& config, QWidget* parent = nullptr);
};

// A label that shows a web address as a link and opens it in the user's browser.
QLabel* makeLinkLabel(const QString& url, const QString& text, QWidget* parent);

} // namespace kestro::ui
