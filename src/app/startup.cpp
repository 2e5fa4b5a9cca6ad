#include "app/startup.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace qm {

QWidget* CreateFirstPage() {
  auto* page = new QWidget;
  page->setWindowTitle(QStringLiteral("Morva Data Recovery Wizard"));
  page->setFixedSize(1080, 668);
  page->setStyleSheet(QStringLiteral("background: white;"));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QStringLiteral("Quillmoren Data Recovery Wizard"), page), 0, Qt::AlignCenter);
  return page;
}

int RunWizard(QApplication& app) {
  QWidget* page = CreateFirstPage();
  page->setAttribute(Qt::WA_DeleteOnClose);
  page->show();
  return app.exec();
}

}  // namespace qm
