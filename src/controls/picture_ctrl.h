#pragma once
// The picture pane of the preview: holds one picture, decoded once, and
// draws it on white by the placement rules below (stretched to the box).
#include <QByteArray>
#include <QFrame>
#include <QImage>
#include <QRect>
#include <QSize>

class QIODevice;

namespace qm {

class CPictureCtrl : public QFrame {
  Q_OBJECT

 public:
  // Files and blocks above this size are refused: a preview never needs
  // more, and a crafted file must not take the memory of a whole scan.
  static constexpr qint64 kMaxPictureBytes = 64ll << 20;

  explicit CPictureCtrl(QWidget* parent = nullptr);

  // 1 when the file decodes as a picture; 0 otherwise with the reason in
  // LastError() (an errno value). The previous picture is gone either way.
  int LoadFromFile(const QString& path);
  // Copies the whole stream or block. Neither checks that the bytes
  // decode: an undecodable picture paints plain white.
  int LoadFromStream(QIODevice* stream);
  int LoadFromMemory(const void* bytes, qint64 count);
  void FreeData();

  bool Loaded() const { return loaded_; }
  int LastError() const { return lastError_; }
  const QImage& Picture() const { return image_; }

  // Where an image of `image` size lands in a pane of `client` size.
  static QRect Placement(QSize image, QSize client);

 protected:
  void paintEvent(QPaintEvent* event) override;
  virtual int DrawPicture(class QPainter& painter);

 private:
  bool Accept(QByteArray bytes);

  QByteArray bytes_;
  QImage image_;  // decoded once per load
  bool loaded_ = false;
  int lastError_ = 0;
};

}  // namespace qm
