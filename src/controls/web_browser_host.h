#pragma once
// The host of the results page's HTML pane. Nothing navigates it, so it is
// a plain widget that shows the page's background.
#include <QString>
#include <QUuid>
#include <QWidget>

namespace qm {

class CExplorer_webbrowse : public QWidget {
  Q_OBJECT

 public:
  explicit CExplorer_webbrowse(QWidget* parent = nullptr);

  // The class id of the browser control this pane stands for.
  static QUuid GetClsid();
  // Accepted and ignored: the pane never shows documents.
  void Navigate(const QString& url);
};

}  // namespace qm
