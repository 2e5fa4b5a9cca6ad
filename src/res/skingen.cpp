// Draws the skin into the folder given on the command line: every button
// strip and picture the pages load from the images folder, under the exact
// file names they ask for. Strips are frames side by side: pressed,
// hovered, normal and (four-frame strips) disabled.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

// The palette of the skin: a deep teal face, a lighter hover, a darker
// pressed face, and a quiet grey for disabled buttons. None of the three
// greys that the loader maps to desktop colours appears here.
struct FaceColors {
  QColor top, bottom, border, text;
};
const FaceColors kPressed{QColor(0x0b, 0x4f, 0x6c), QColor(0x13, 0x6f, 0x93), QColor(0x06, 0x33, 0x47), Qt::white};
const FaceColors kHover{QColor(0x3f, 0xa7, 0xd0), QColor(0x1d, 0x84, 0xb0), QColor(0x0b, 0x4f, 0x6c), Qt::white};
const FaceColors kNormal{QColor(0x24, 0x8e, 0xbb), QColor(0x0f, 0x66, 0x8d), QColor(0x0b, 0x4f, 0x6c), Qt::white};
const FaceColors kDisabled{QColor(0xe4, 0xe7, 0xea), QColor(0xcf, 0xd4, 0xd8), QColor(0xb3, 0xb9, 0xbf),
                           QColor(0x8c, 0x93, 0x99)};
const FaceColors kFrames[4] = {kPressed, kHover, kNormal, kDisabled};

using Glyph = std::function<void(QPainter&, const QRectF&, const QColor&)>;

QString g_dir;
int g_failures = 0;

void Save(const QImage& image, const char* name) {
  const QString path = g_dir + "/" + QString::fromLatin1(name);
  if (!image.convertToFormat(QImage::Format_RGB32).save(path, "BMP")) {
    std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
    ++g_failures;
  }
}

void Face(QPainter& p, const QRectF& r, const FaceColors& c, qreal radius, bool pressed) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, c.top);
  g.setColorAt(1, c.bottom);
  p.setPen(QPen(c.border, 1));
  p.setBrush(g);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
  // A thin gloss line on raised faces, none when pressed in.
  if (!pressed) {
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(r.left() + radius, r.top() + 1.5), QPointF(r.right() - radius, r.top() + 1.5));
  }
}

QImage NewStrip(int frameWidth, int frameHeight, int frames) {
  QImage strip(frameWidth * frames, frameHeight, QImage::Format_RGB32);
  strip.fill(Qt::white);  // buttons sit on white pages
  return strip;
}

// A text button strip: caption centred, optional glyph at the left.
void TextStrip(const char* file, const char* caption, int w, int h, int frames, int points,
               const Glyph& glyph = nullptr) {
  QImage strip = NewStrip(w, h, frames);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(points);
  font.setBold(true);
  p.setFont(font);
  for (int f = 0; f < frames; ++f) {
    const FaceColors& c = kFrames[f];
    const QRectF frame(f * w, 0, w, h);
    const bool pressed = f == 0;
    Face(p, frame.adjusted(1, 1, -1, -1), c, qMin<qreal>(6, h / 4.0), pressed);
    QRectF textBox = frame.translated(pressed ? 1 : 0, pressed ? 1 : 0);
    if (glyph) {
      const qreal side = h * 0.62;
      const QRectF gbox(frame.left() + h * 0.3, frame.top() + (h - side) / 2, side, side);
      glyph(p, gbox.translated(pressed ? 1 : 0, pressed ? 1 : 0), c.text);
      textBox.setLeft(gbox.right() + h * 0.2);
    }
    p.setPen(c.text);
    p.drawText(textBox, Qt::AlignCenter, QString::fromUtf8(caption));
  }
  p.end();
  Save(strip, file);
}

// A square toolbar strip of four frames with a glyph.
void ToolStrip(const char* file, int side, const Glyph& glyph) {
  QImage strip = NewStrip(side, side, 4);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  for (int f = 0; f < 4; ++f) {
    const FaceColors& c = kFrames[f];
    const QRectF frame(f * side, 0, side, side);
    Face(p, frame.adjusted(1, 1, -1, -1), c, 8, f == 0);
    const QRectF gbox = frame.adjusted(side * 0.22, side * 0.22, -side * 0.22, -side * 0.22);
    glyph(p, gbox.translated(f == 0 ? 1 : 0, f == 0 ? 1 : 0), c.text);
  }
  p.end();
  Save(strip, file);
}

// --- glyphs ---

void GlyphDisk(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath body;
  body.moveTo(r.left(), r.top());
  body.lineTo(r.right() - r.width() * 0.22, r.top());
  body.lineTo(r.right(), r.top() + r.height() * 0.22);
  body.lineTo(r.right(), r.bottom());
  body.lineTo(r.left(), r.bottom());
  body.closeSubpath();
  p.drawPath(body);
  p.drawRect(QRectF(r.left() + r.width() * 0.25, r.top(), r.width() * 0.42, r.height() * 0.3));
  p.setBrush(c);
  p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top() + r.height() * 0.58, r.width() * 0.6, r.height() * 0.3));
}

void GlyphFolderUp(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath folder;
  folder.moveTo(r.left(), r.top() + r.height() * 0.2);
  folder.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.2);
  folder.lineTo(r.left() + r.width() * 0.48, r.top() + r.height() * 0.32);
  folder.lineTo(r.right(), r.top() + r.height() * 0.32);
  folder.lineTo(r.right(), r.bottom());
  folder.lineTo(r.left(), r.bottom());
  folder.closeSubpath();
  p.drawPath(folder);
  const qreal cx = r.center().x();
  p.drawLine(QPointF(cx, r.bottom() - r.height() * 0.12), QPointF(cx, r.top() + r.height() * 0.45));
  p.drawLine(QPointF(cx, r.top() + r.height() * 0.45), QPointF(cx - r.width() * 0.15, r.top() + r.height() * 0.6));
  p.drawLine(QPointF(cx, r.top() + r.height() * 0.45), QPointF(cx + r.width() * 0.15, r.top() + r.height() * 0.6));
}

void GlyphMagnifier(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 2.2));
  p.setBrush(Qt::NoBrush);
  const QRectF lens(r.left(), r.top(), r.width() * 0.64, r.height() * 0.64);
  p.drawEllipse(lens);
  p.setPen(QPen(c, 3.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(lens.right() - lens.width() * 0.12, lens.bottom() - lens.height() * 0.12),
             QPointF(r.right(), r.bottom()));
}

void GlyphGear(QPainter& p, const QRectF& r, const QColor& c) {
  p.save();
  p.translate(r.center());
  const qreal outer = r.width() / 2, inner = outer * 0.68;
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  for (int i = 0; i < 8; ++i) {
    p.save();
    p.rotate(i * 45.0);
    p.drawRect(QRectF(-outer * 0.16, -outer, outer * 0.32, outer * 0.4));
    p.restore();
  }
  // A ring, so the face shows through the hub in every frame.
  QPainterPath hub;
  hub.setFillRule(Qt::OddEvenFill);
  hub.addEllipse(QPointF(0, 0), inner, inner);
  hub.addEllipse(QPointF(0, 0), inner * 0.42, inner * 0.42);
  p.drawPath(hub);
  p.restore();
}

void GlyphQuestionMark(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(r);
  QFont f(QStringLiteral("Arial"));
  f.setBold(true);
  f.setPixelSize(qRound(r.height() * 0.72));
  p.setFont(f);
  p.drawText(r, Qt::AlignCenter, QStringLiteral("?"));
}

void GlyphCart(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath cart;
  cart.moveTo(r.left(), r.top() + r.height() * 0.1);
  cart.lineTo(r.left() + r.width() * 0.18, r.top() + r.height() * 0.1);
  cart.lineTo(r.left() + r.width() * 0.32, r.top() + r.height() * 0.68);
  cart.lineTo(r.right() - r.width() * 0.08, r.top() + r.height() * 0.68);
  cart.lineTo(r.right(), r.top() + r.height() * 0.28);
  cart.lineTo(r.left() + r.width() * 0.22, r.top() + r.height() * 0.28);
  p.drawPath(cart);
  p.setBrush(c);
  p.drawEllipse(QPointF(r.left() + r.width() * 0.38, r.bottom() - r.height() * 0.08), 2.2, 2.2);
  p.drawEllipse(QPointF(r.right() - r.width() * 0.16, r.bottom() - r.height() * 0.08), 2.2, 2.2);
}

void GlyphTrash(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(r.left(), r.top() + r.height() * 0.18), QPointF(r.right(), r.top() + r.height() * 0.18));
  p.drawRect(QRectF(r.left() + r.width() * 0.35, r.top(), r.width() * 0.3, r.height() * 0.18));
  QPainterPath bin;
  bin.moveTo(r.left() + r.width() * 0.12, r.top() + r.height() * 0.28);
  bin.lineTo(r.left() + r.width() * 0.2, r.bottom());
  bin.lineTo(r.right() - r.width() * 0.2, r.bottom());
  bin.lineTo(r.right() - r.width() * 0.12, r.top() + r.height() * 0.28);
  p.drawPath(bin);
}

void GlyphFormatted(QPainter& p, const QRectF& r, const QColor& c) {
  // A disk platter with a sweep: a wiped volume.
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(r);
  p.drawEllipse(r.center(), r.width() * 0.12, r.height() * 0.12);
  p.drawArc(r.adjusted(r.width() * 0.2, r.height() * 0.2, -r.width() * 0.2, -r.height() * 0.2), 30 * 16, 120 * 16);
}

void GlyphPartition(QPainter& p, const QRectF& r, const QColor& c) {
  // A pie with one slice pulled out.
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawPie(r.adjusted(0, r.height() * 0.05, -r.width() * 0.08, 0), 90 * 16, 270 * 16);
  p.setBrush(c);
  p.drawPie(r.adjusted(r.width() * 0.1, 0, 0, -r.height() * 0.05), 0, 90 * 16);
}

void GlyphDiskImage(QPainter& p, const QRectF& r, const QColor& c) {
  // Two stacked drives: a copy of a disk.
  p.setPen(QPen(c, 1.6));
  p.setBrush(Qt::NoBrush);
  const qreal h = r.height() * 0.4;
  for (int i = 0; i < 2; ++i) {
    const QRectF d(r.left(), r.top() + i * (h + r.height() * 0.2), r.width(), h);
    p.drawRoundedRect(d, 2, 2);
    p.setBrush(c);
    p.drawEllipse(QPointF(d.right() - d.width() * 0.15, d.center().y()), 1.6, 1.6);
    p.setBrush(Qt::NoBrush);
  }
}

// --- pictures ---

void RoundSymbol(const char* file, int side, const QColor& fill, const QString& symbol) {
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(side * 0.35, side * 0.3), side * 0.7);
  g.setColorAt(0, fill.lighter(135));
  g.setColorAt(1, fill);
  p.setPen(QPen(fill.darker(130), 1));
  p.setBrush(g);
  p.drawEllipse(QRectF(1, 1, side - 2, side - 2));
  QFont f(QStringLiteral("Arial"));
  f.setBold(true);
  f.setPixelSize(qRound(side * 0.68));
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, symbol);
  p.end();
  Save(image, file);
}

void PreviewPicture(const char* file, int w, int h, const QString& caption, bool crossed) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x0f, 0x66, 0x8d);
  const QColor soft(0xd6, 0xe8, 0xf1);
  // A landscape photo outline: frame, sun and hills.
  const QRectF photo(w * 0.3, h * 0.14, w * 0.4, h * 0.46);
  p.setPen(QPen(ink, 2));
  p.setBrush(soft);
  p.drawRoundedRect(photo, 4, 4);
  p.setBrush(ink);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(photo.left() + photo.width() * 0.28, photo.top() + photo.height() * 0.3),
                photo.height() * 0.1, photo.height() * 0.1);
  QPainterPath hills;
  hills.moveTo(photo.left() + 2, photo.bottom() - 2);
  hills.lineTo(photo.left() + photo.width() * 0.38, photo.top() + photo.height() * 0.48);
  hills.lineTo(photo.left() + photo.width() * 0.58, photo.top() + photo.height() * 0.7);
  hills.lineTo(photo.left() + photo.width() * 0.75, photo.top() + photo.height() * 0.55);
  hills.lineTo(photo.right() - 2, photo.bottom() - 2);
  hills.closeSubpath();
  p.drawPath(hills);
  if (crossed) {
    p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(photo.topLeft() + QPointF(-6, -6), photo.bottomRight() + QPointF(6, 6));
  }
  QFont f(QStringLiteral("Arial"));
  f.setBold(true);
  f.setPixelSize(qMax(10, h / 14));
  p.setFont(f);
  p.setPen(QColor(0x33, 0x44, 0x55));
  p.drawText(QRectF(0, h * 0.66, w, h * 0.3), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, caption);
  p.end();
  Save(image, file);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: skingen <images folder>\n");
    return 2;
  }
  g_dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_dir);

  // Dialog buttons: three-frame strips, 75 x 23 per frame.
  const struct {
    const char* file;
    const char* caption;
  } dialogButtons[] = {
      {"ok.bmp", "OK"},         {"Yes.bmp", "Yes"},          {"yes.bmp", "Yes"},       {"no.bmp", "No"},
      {"cancel.bmp", "Cancel"}, {"retry.bmp", "Retry"},      {"retryall.bmp", "Retry All"},
      {"skip.bmp", "Skip"},     {"skipall.bmp", "Skip All"}, {"abort.bmp", "Abort"},
      {"apply.bmp", "Apply"},   {"browse.bmp", "Browse..."}, {"rename.bmp", "Rename"},
  };
  for (const auto& b : dialogButtons) TextStrip(b.file, b.caption, 75, 23, 3, 12);
  TextStrip("SearchAdv.bmp", "Search", 100, 26, 3, 13, GlyphMagnifier);

  // Page buttons: four-frame strips, 100 x 30 per frame.
  TextStrip("Next-btn.bmp", "Next  \u203a", 100, 30, 4, 14);
  TextStrip("Back-btn.bmp", "\u2039  Back", 100, 30, 4, 14);
  TextStrip("Stop-btn.bmp", "Stop", 100, 30, 4, 14);
  TextStrip("Pause-btn.bmp", "Pause", 100, 30, 4, 14);
  TextStrip("Resume-btn.bmp", "Resume", 100, 30, 4, 14);
  TextStrip("HideDetails-btn.bmp", "Hide Details", 110, 30, 4, 13);
  TextStrip("ShowDetails-btn.bmp", "Show Details", 110, 30, 4, 13);
  TextStrip("Save.bmp", "Save", 100, 30, 4, 14, GlyphDisk);
  TextStrip("Settings_btn.bmp", "Settings...", 100, 26, 4, 13);

  // Mode buttons: three-frame strips, 320 x 64 per frame.
  TextStrip("deleted-data-recovery.bmp", "Deleted Data Recovery", 320, 64, 3, 17, GlyphTrash);
  TextStrip("formatted-data-recovery.bmp", "Formatted Data Recovery", 320, 64, 3, 17, GlyphFormatted);
  TextStrip("partition-data-recovery.bmp", "Partition Data Recovery", 320, 64, 3, 17, GlyphPartition);
  TextStrip("create-disk-image.bmp", "Create Disk Image", 320, 64, 3, 17, GlyphDiskImage);

  // Toolbar: four-frame strips, 40 x 40 per frame.
  ToolStrip("Save-Recovery-tbar.bmp", 40, GlyphDisk);
  ToolStrip("Load-Recovery-tbar.bmp", 40, GlyphFolderUp);
  ToolStrip("Search-tbar.bmp", 40, GlyphMagnifier);
  ToolStrip("recover-tbar.bmp", 40, GlyphGear);
  ToolStrip("Help-tbar.bmp", 40, GlyphQuestionMark);
  ToolStrip("Buy-tbar.bmp", 40, GlyphCart);

  // Pictures of the message dialogs and the step markers.
  RoundSymbol("Information.bmp", 32, QColor(0x1d, 0x84, 0xb0), QStringLiteral("i"));
  RoundSymbol("Question.bmp", 32, QColor(0x2e, 0x9e, 0x6a), QStringLiteral("?"));
  RoundSymbol("Step-2.bmp", 20, kNormal.bottom, QStringLiteral("2"));
  RoundSymbol("Step-3.bmp", 20, kNormal.bottom, QStringLiteral("3"));
  RoundSymbol("Step-4.bmp", 20, kNormal.bottom, QStringLiteral("4"));

  // Placeholders of the preview pane.
  PreviewPicture("preview.bmp", 240, 180, QStringLiteral("Select a file to preview it"), false);
  PreviewPicture("NoPreview.bmp", 240, 180, QStringLiteral("No preview for this file"), true);

  return g_failures == 0 ? 0 : 1;
}
