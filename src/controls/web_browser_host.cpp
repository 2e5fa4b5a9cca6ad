#include "controls/web_browser_host.h"

namespace qm {

CExplorer_webbrowse::CExplorer_webbrowse(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CExplorer_webbrowse"));
}

QUuid CExplorer_webbrowse::GetClsid() { return QUuid(QStringLiteral("{8856F961-340A-11D0-A96B-00C04FD705A2}")); }

void CExplorer_webbrowse::Navigate(const QString&) {}

}  // namespace qm
