#include "controls/picture_ctrl.h"

#include <QIODevice>
#include <QPainter>

#include <cerrno>

#include "platform/file.h"

namespace qm {

CPictureCtrl::CPictureCtrl(QWidget* parent) : QFrame(parent) {}

void CPictureCtrl::FreeData() {
  loaded_ = false;
  bytes_.clear();
  image_ = QImage();
}

bool CPictureCtrl::Accept(QByteArray bytes) {
  bytes_ = std::move(bytes);
  image_ = QImage::fromData(bytes_);
  loaded_ = true;
  update();
  return true;
}

int CPictureCtrl::LoadFromFile(const QString& path) {
  lastError_ = 0;
  FreeData();
  update();
  File file;
  if (!file.open(path.toStdString(), File::Mode::Read)) {
    lastError_ = file.lastError();
    return 0;
  }
  const int64_t size = file.size();
  if (size < 0) {
    lastError_ = EIO;
    return 0;
  }
  if (size > kMaxPictureBytes) {
    lastError_ = EFBIG;
    return 0;
  }
  QByteArray bytes(static_cast<qsizetype>(size), '\0');
  if (size > 0 && file.readAt(bytes.data(), static_cast<size_t>(size), 0) != size) {
    lastError_ = file.lastError() ? file.lastError() : EIO;
    return 0;
  }
  const QImage decoded = QImage::fromData(bytes);
  if (decoded.isNull()) {
    lastError_ = EINVAL;
    return 0;
  }
  bytes_ = std::move(bytes);
  image_ = decoded;
  loaded_ = true;
  update();
  return 1;
}

int CPictureCtrl::LoadFromStream(QIODevice* stream) {
  lastError_ = 0;
  FreeData();
  if (!stream) {
    lastError_ = EFAULT;
    return 0;
  }
  if (!stream->isSequential() && !stream->seek(0)) {
    lastError_ = EIO;
    return 0;
  }
  if (!stream->isSequential() && stream->size() > kMaxPictureBytes) {
    lastError_ = EFBIG;
    return 0;
  }
  QByteArray bytes = stream->read(kMaxPictureBytes + 1);
  if (bytes.size() > kMaxPictureBytes) {
    lastError_ = EFBIG;
    return 0;
  }
  return Accept(std::move(bytes)) ? 1 : 0;
}

int CPictureCtrl::LoadFromMemory(const void* bytes, qint64 count) {
  lastError_ = 0;
  FreeData();
  if (count < 0 || (count > 0 && !bytes)) {
    lastError_ = EFAULT;
    return 0;
  }
  if (count > kMaxPictureBytes) {
    lastError_ = EFBIG;
    return 0;
  }
  return Accept(QByteArray(static_cast<const char*>(bytes), static_cast<qsizetype>(count))) ? 1 : 0;
}

QRect CPictureCtrl::Placement(QSize image, QSize client) {
  const int w = image.width(), h = image.height(), W = client.width(), H = client.height();
  if (h < H && w < W) return QRect(W / 2 - w / 2, H / 2 - h / 2, w, h);
  if (w < W) return QRect(W / 2 - w / 2, 3, w, H - 4);  // at least as tall as the pane
  if (h < H) return QRect(3, H / 2 - h / 2, W - 4, h);  // at least as wide
  return QRect(1, 1, W - 3, H - 3);
}

int CPictureCtrl::DrawPicture(QPainter& painter) {
  painter.fillRect(rect(), Qt::white);
  if (!image_.isNull()) {
    const QRect box = Placement(image_.size(), size());
    if (box.width() > 0 && box.height() > 0) painter.drawImage(box, image_);
  }
  return 1;
}

void CPictureCtrl::paintEvent(QPaintEvent* event) {
  if (!loaded_) {
    QFrame::paintEvent(event);
    return;
  }
  QPainter painter(this);
  DrawPicture(painter);
}

}  // namespace qm
