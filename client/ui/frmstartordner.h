#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestro {
class SettingWriter;
}

namespace kestro::ui {

class FolderTree;

// "Startordner": where the file window opens, and whether the folder last used becomes
// the next start folder. "OK" stores both settings and updates the caller's values.
class FrmStartOrdner : public QDialog {
    Q_OBJECT
public:
    // `startFolder` and `rememberFlag` ("Yes"/"No") are the client's values; they change
    // only on "OK".
    FrmStartOrdner(SettingWriter& settings, QString& startFolder, QString& rememberFlag,
                   QWidget* parent = nullptr);

    FolderTree* folderTree() const { return folderTree_; }

private:
    void store();

    SettingWriter& settings_;
    QString& startFolder_;
    QString& rememberFlag_;
    FolderTree* folderTree_ = nullptr;
    QLineEdit* startFolderBox_ = nullptr;
    QCheckBox* rememberFolderCheck_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace kestro::ui
