// The about box: the program's icon, name and version.
#pragma once

#include <QDialog>

class QLabel;

namespace tarnhold::gui {

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    // version: "major.minor.patch" of the project, "(未定義)" when empty.
    explicit TfrmAbout(const QString& version, QWidget* parent = nullptr);

    QString VersionText() const;

private:
    QLabel* lblVersion;
};

} // namespace tarnhold::gui
