#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

#include "app/startup.h"

namespace qm {
namespace {

TEST(Startup, FirstPageGrabsToPng) {
  std::unique_ptr<QWidget> page(CreateFirstPage());
  page->show();
  QImage shot = page->grab().toImage();
  EXPECT_EQ(shot.width(), page->width());
  EXPECT_GT(shot.width(), 0);
  const QString out = QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/first-page.png";
  EXPECT_TRUE(shot.save(out, "PNG"));
}

}  // namespace
}  // namespace qm
