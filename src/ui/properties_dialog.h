// A small properties dialog of our own, for when no file manager shows
// them: the path, MIME type, size, dates and permissions of a file.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

namespace quindelo::ui {

class PropertiesDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the first of native_paths; the others are counted in a last line.
  explicit PropertiesDialog(const std::vector<std::string>& native_paths,
                            QWidget* parent = nullptr);
  // The shown value of a field ("Path", "Type", "Size", "Modified",
  // "Accessed", "Created", "Permissions", "Owner"); empty when not shown.
  QString Field(const QString& label) const;

 private:
  void AddField(const QString& label, const QString& value);
  std::vector<std::pair<QString, QString>> fields_;
};

// The permission bits as "ls -l" writes them, e.g. "-rw-r--r--".
QString PermissionText(unsigned mode);

}  // namespace quindelo::ui
