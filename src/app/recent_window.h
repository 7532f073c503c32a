// "Recent Recordings": the recordings this program made, newest first, each with a thumbnail, its
// length, size, format and folder; Play, Open folder, Trim…, Export… and Move to trash.
#pragma once

#include <QDialog>
#include <string>

class QListWidget;
class QPushButton;

namespace qv {

class TRecentWindow : public QDialog {
  Q_OBJECT
 public:
  // `listFile`: the list it shows (RecentListFile() for the program's own).
  TRecentWindow(std::string listFile, QWidget* parent = nullptr);
  void Refresh();
  std::string Selected() const;  // "" when nothing is

  QListWidget* LstRecordings;
  QPushButton *BtnPlay, *BtnOpenFolder, *BtnTrim, *BtnExport, *BtnTrash;

 private:
  void Trash();
  void OpenWindow(bool trim);

  std::string ListFile;
};

}  // namespace qv
