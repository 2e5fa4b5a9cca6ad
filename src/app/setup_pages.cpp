#include "app/setup_pages.h"

#include <QApplication>

#include "app/about_dialog.h"
#include "app/device_page.h"
#include "app/disk_image_page.h"
#include "app/found_partitions_page.h"
#include "app/page_chain.h"
#include "app/raw_recovery_page.h"
#include "controls/url_link_button.h"
#include "platform/prompt.h"

namespace qm {

void InstallSetupPageRunners() {
  SetDeviceNextRunner(DeviceNextPage::kFoundPartitions, [] {
    ExhaustiveDisplayPartitionInformation page;
    return page.DoModal();
  });
  SetDeviceNextRunner(DeviceNextPage::kRawRecovery, [] {
    ExtensionWiseRecovery page;
    return page.DoModal();
  });
  SetDeviceNextRunner(DeviceNextPage::kDiskImage, [] {
    CreateDiskImage page;
    return page.DoModal();
  });
  SetPageRunner(PageHook::kHelpPage, [] {
    OpenHelpPage();
    return IDOK;
  });
  SetPageRunner(PageHook::kProductPage, [] {
    OpenProductPage();
    return IDOK;
  });
  SetPageRunner(PageHook::kAboutBox, [] {
    ShowAboutBox(QApplication::activeWindow());
    return IDOK;
  });
  CURLLinkButton::SetHelpPageOpener([](QWidget*) { OpenHelpPage(); });
  CURLLinkButton::SetAboutBoxOpener([](QWidget* parent) { ShowAboutBox(parent); });
}

}  // namespace qm
