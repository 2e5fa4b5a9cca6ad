#include "dormant/markup_drawer.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPalette>
#include <QUrl>
#include <algorithm>

#include "controls/qt_text.h"
#include "platform/registry.h"

namespace qm {

namespace {

constexpr size_t npos = std::u16string_view::npos;
// Line breaks and tab counts above this are no use and would push y and x
// out of any integer range.
constexpr int kMaxCount = 100;
constexpr int kMaxCoordinate = 1 << 28;

constexpr int kFillGranularity = 5;

// The desktop's standard icon size: what icon sizes in percent refer to.
constexpr int kIconSize = 32;

ColorRef FromQColor(const QColor& c) { return MakeColorRef(c.red(), c.green(), c.blue()); }

int ClampCoord(long long v) { return static_cast<int>(std::clamp<long long>(v, -kMaxCoordinate, kMaxCoordinate)); }

int CountSpaces(std::u16string_view s) { return static_cast<int>(std::count(s.begin(), s.end(), u' ')); }

std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  return s;
}

// Text after the first tag of a table, row or cell text, and that tag's attributes.
size_t FirstTag(std::u16string_view text, std::u16string* attributes) {
  std::u16string piece, tag, name;
  size_t pos = GetNextToken(text, 0, &piece, &tag);
  SplitTag(tag, &name, attributes);
  return pos;
}

}  // namespace

QColor MarkupQColor(ColorRef c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

CPPHtmlDrawer::CPPHtmlDrawer() {
  QPalette pal = QGuiApplication::palette();
  struct { const char16_t* name; QPalette::ColorRole role; } roles[] = {
      {u"buttonface", QPalette::Button}, {u"threedface", QPalette::Button},
      {u"buttontext", QPalette::ButtonText}, {u"buttonshadow", QPalette::Mid},
      {u"threedshadow", QPalette::Mid}, {u"buttonhighlight", QPalette::Light},
      {u"threedhighlight", QPalette::Light}, {u"threeddarkshadow", QPalette::Shadow},
      {u"highlight", QPalette::Highlight}, {u"highlighttext", QPalette::HighlightedText},
      {u"window", QPalette::Base}, {u"windowtext", QPalette::WindowText},
      {u"infobackground", QPalette::ToolTipBase}, {u"infotext", QPalette::ToolTipText},
  };
  for (const auto& r : roles) SetSystemColor(r.name, FromQColor(pal.color(r.role)));
  SetSystemColor(u"graytext", FromQColor(pal.color(QPalette::Disabled, QPalette::Text)));
  disabledColor = FromQColor(pal.color(QPalette::Mid));
  SetImageShadow(4, 4, 50, true, 7, 7);
}

CPPHtmlDrawer::~CPPHtmlDrawer() = default;

void CPPHtmlDrawer::SetImageShadow(int dx, int dy, int darkness, bool soft, int blurX, int blurY) {
  shadowDx_ = std::clamp(dx, -64, 64);
  shadowDy_ = std::clamp(dy, -64, 64);
  shadowDarkness_ = std::clamp(darkness, 0, 100);
  shadowSoft_ = soft;
  shadowBlurX_ = blurX;
  shadowBlurY_ = blurY;
  unsigned grey = static_cast<unsigned>(MarkupMulDiv(255, 100 - shadowDarkness_, 100));
  shadowColor_ = MakeColorRef(grey, grey, grey);
}

void CPPHtmlDrawer::SetImageList(const QImage& strip, int pictureWidth, int pictureHeight, ColorRef mask) {
  imageList_ = strip.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = MarkupQColor(mask).rgb();
  for (int y = 0; y < imageList_.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(imageList_.scanLine(y));
    for (int x = 0; x < imageList_.width(); ++x)
      if ((row[x] | 0xFF000000u) == key) row[x] = 0;
  }
  imageListCx_ = std::max(0, pictureWidth);
  imageListCy_ = std::max(0, pictureHeight);
}

bool CPPHtmlDrawer::SetImageList(int bitmapId, int pictureWidth, int pictureHeight, ColorRef mask) {
  const QImage strip = ResourceModule::Application().LoadBitmap(bitmapId);
  // A missing bitmap leaves a list without pictures.
  SetImageList(strip, pictureWidth, pictureHeight, mask);
  return !strip.isNull();
}

void CPPHtmlDrawer::SetResourceInstance(const ResourceModule* module) {
  if (module && module == ownedInstance_.get()) return;  // already the one in use
  ownedInstance_.reset();
  instance_ = module;
}

bool CPPHtmlDrawer::SetResourceDll(const QString& path, int /*flags*/) {
  std::unique_ptr<ResourceModule> loaded = ResourceModule::Load(path);
  SetResourceInstance(nullptr);
  ownedInstance_ = std::move(loaded);
  instance_ = ownedInstance_.get();
  return instance_ != nullptr;
}

std::u16string CPPHtmlDrawer::GetStringResourceLine(int id, int index) {
  const std::optional<std::u16string> text = ResourceModule::Application().LoadString(id);
  return text ? TextLine(*text, index) : std::u16string();
}

const QFont& CPPHtmlDrawer::GetStatusFont() {
  static QFont font;
  font = QApplication::font("QStatusBar");
  return font;
}

bool CPPHtmlDrawer::SetCssStylesFromResource(int id, const QString& library) {
  const std::optional<std::u16string> sheet = LoadResourceString(id, library.isEmpty(), library.toStdU16String());
  if (!sheet) return false;
  SetCssStyles(std::u16string_view(*sheet));
  return true;
}

QImage CPPHtmlDrawer::LoadResourcePicture(int tag, int resourceId, bool program, const std::u16string& library) const {
  auto load = [&](const ResourceModule& module) {
    return tag == kTagIcon ? module.LoadIcon(resourceId) : module.LoadBitmap(resourceId);
  };
  if (program) return load(ResourceModule::Application());
  if (!library.empty()) {
    // A named module is loaded for this picture only.
    const std::unique_ptr<ResourceModule> module = ResourceModule::Load(Q(library));
    return module ? load(*module) : QImage();
  }
  return instance_ ? load(*instance_) : QImage();
}

std::optional<std::u16string> CPPHtmlDrawer::LoadResourceString(int resourceId, bool program,
                                                                const std::u16string& library) const {
  if (program) return ResourceModule::Application().LoadString(resourceId);
  if (!library.empty()) {
    const std::unique_ptr<ResourceModule> module = ResourceModule::Load(Q(library));
    return module ? module->LoadString(resourceId) : std::nullopt;
  }
  return instance_ ? instance_->LoadString(resourceId) : std::nullopt;
}

int CPPHtmlDrawer::AddPictureHandle(const QImage& picture) {
  handles_.push_back(picture);
  return static_cast<int>(handles_.size());
}

QSize CPPHtmlDrawer::PrepareOutput(QPainter& painter, std::u16string_view text) {
  painter_ = &painter;
  justifyExtra_ = justifySpaces_ = 0;
  std::u16string prepared = PreprocessText(text);
  // Every paint measures again; a running animation keeps its frames unless
  // the text itself changed.
  if (prepared != text_) animations_.clear();
  text_ = std::move(prepared);
  if (text_.empty()) return {0, 0};
  measuring_ = true;
  tables_.clear();
  QSize size;
  RenderBody(Area{0, 0, maxWidth_, 0}, &size);
  if (size.isEmpty() && size.width() == 0 && size.height() == 0) text_.clear();
  if (maxWidth_ && maxWidth_ < size.width()) size.setWidth(maxWidth_);
  return {size.width() + 1, size.height() + 1};
}

void CPPHtmlDrawer::DrawPreparedOutput(QPainter& painter, const QRect& rect) {
  if (text_.empty()) return;
  painter_ = &painter;
  measuring_ = false;
  QSize size;
  RenderBody(Area{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()}, &size);
}

QSize CPPHtmlDrawer::DrawHtml(QPainter& painter, std::u16string_view text, QPoint at) {
  QSize size = PrepareOutput(painter, text);
  if (size.width() != 0 && size.height() != 0) DrawPreparedOutput(painter, QRect(at, size));
  return size;
}

void CPPHtmlDrawer::RenderBody(Area area, QSize* size) {
  if (measuring_) {
    hotAreas_.clear();
    lines_.clear();
    previousAnimations_ = std::move(animations_);
    animations_.clear();
  }
  lineIndex_ = 0;
  tableCounter_ = linkCounter = animationCounter_ = -1;
  ResetStyles();
  painter_->save();
  SelectStyleFont();
  int width = 0, height = 0;
  std::u16string_view text = text_;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t table = FindTag(text, u"table", pos);
    size_t runEnd = table == npos ? text.size() : table;
    QSize piece;
    if (runEnd > pos) {
      RenderTextRun(text.substr(pos, runEnd - pos), area, &piece);
      width = std::max(width, piece.width());
      height = ClampCoord(static_cast<long long>(height) + piece.height());
      if (!measuring_) area.top = ClampCoord(static_cast<long long>(area.top) + piece.height());
    }
    if (table == npos) break;
    size_t end = FindTableEnd(text, table);
    RenderTable(text.substr(table, end == npos ? npos : end - table), area, &piece, 0);
    width = std::max(width, piece.width());
    height = ClampCoord(static_cast<long long>(height) + piece.height());
    if (!measuring_) area.top = ClampCoord(static_cast<long long>(area.top) + piece.height());
    if (end == npos) break;
    size_t gt = text.find(u'>', end);
    pos = gt == npos ? text.size() : gt + 1;
  }
  painter_->restore();
  styleStack.clear();
  *size = QSize(width, height);
}

void CPPHtmlDrawer::SelectStyleFont() {
  font_ = QFont(Q(style.faceName));
  font_.setPixelSize(std::clamp(style.fontSize, 1, 1000));
  font_.setWeight(static_cast<QFont::Weight>(std::clamp(style.fontWeight, 1, 1000)));
  font_.setItalic(style.italic);
  font_.setUnderline(style.underline);
  font_.setStrikeOut(style.strikeout);
  painter_->setFont(font_);
  QFontMetrics fm(font_, painter_->device());
  ascent_ = fm.ascent();
  descent_ = fm.descent();
  fontHeight_ = fm.height();
  metrics.fontHeight = fontHeight_;
  metrics.xHeight = fm.boundingRect(QLatin1Char('x')).height();
  metrics.pixelsPerInch = painter_->device() ? painter_->device()->logicalDpiY() : 96;
  if (metrics.pixelsPerInch <= 0) metrics.pixelsPerInch = 96;
}

int CPPHtmlDrawer::TextWidth(const QString& s) const {
  return QFontMetrics(font_, painter_->device()).horizontalAdvance(s);
}

// Extra pixels of a justified line go to its spaces, the earlier ones first,
// as the platform's justification does.
int CPPHtmlDrawer::JustifiedWidth(const QString& s) const {
  int w = TextWidth(s);
  if (justifySpaces_ <= 0) return w;
  int used = justifyUsed_;
  for (QChar c : s)
    if (c == QLatin1Char(' ') && used < justifySpaces_) {
      w += static_cast<int>(MarkupMulDiv(justifyExtra_, used + 1, justifySpaces_) - MarkupMulDiv(justifyExtra_, used, justifySpaces_));
      ++used;
    }
  return w;
}

void CPPHtmlDrawer::DrawJustifiedText(int x, int y, const QString& s) {
  QFontMetrics fm(font_, painter_->device());
  int w = JustifiedWidth(s);
  if (style.backMode == 2) painter_->fillRect(QRect(x, y, w, fontHeight_), MarkupQColor(style.backColor));
  painter_->setPen(MarkupQColor(style.textColor));
  if (justifySpaces_ <= 0) {
    painter_->drawText(QPoint(x, y + ascent_), s);
    return;
  }
  int start = 0;
  for (int i = 0; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != QLatin1Char(' ')) continue;
    QString word = s.mid(start, i - start);
    painter_->drawText(QPoint(x, y + ascent_), word);
    x += fm.horizontalAdvance(word);
    if (i < s.size()) {
      x += fm.horizontalAdvance(QLatin1Char(' '));
      if (justifyUsed_ < justifySpaces_) {
        x += static_cast<int>(MarkupMulDiv(justifyExtra_, justifyUsed_ + 1, justifySpaces_) - MarkupMulDiv(justifyExtra_, justifyUsed_, justifySpaces_));
        ++justifyUsed_;
      }
    }
    start = i + 1;
  }
}

int CPPHtmlDrawer::BeginLine(int x) {
  justifyExtra_ = justifySpaces_ = justifyUsed_ = 0;
  if (measuring_) {
    line_ = Line{};
    line_.align = style.textAlign;
    lines_.push_back(line_);
  } else {
    line_ = lineIndex_ < lines_.size() ? lines_[lineIndex_] : Line{};
    if (line_.percentWidth) line_.width = ClampCoord(line_.width + MarkupMulDiv(area_.width(), line_.percentWidth, 100));
    if (line_.align == 3 && line_.wrapped) {
      justifyExtra_ = std::max(0, area_.width() - line_.width);
      justifySpaces_ = line_.spaceCount;
    }
    if (line_.align == 1) x += (area_.width() - line_.width) / 2;
    else if (line_.align == 2) x += area_.width() - line_.width;
  }
  remainingWidth_ = line_.width;
  remainingSpaces_ = line_.spaceCount;
  lineStartX_ = x;
  return x;
}

void CPPHtmlDrawer::EndLine(int count, bool wrapped) {
  if (measuring_) {
    if (line_.height == 0) line_.height = fontHeight_;
    measured_ = std::max(measured_, x_ - area_.left);
    line_.width = x_ - area_.left;
    line_.height += line_.descent;
    line_.wrapped = wrapped;
    if (lineIndex_ < lines_.size()) lines_[lineIndex_] = line_;
  }
  ++lineIndex_;
  y_ = ClampCoord(y_ + static_cast<long long>(std::max(count, 1)) * line_.height);
  x_ = BeginLine(area_.left);
}

int CPPHtmlDrawer::AlignTextVertically(int lineTop, int textHeight) {
  if (measuring_) {
    line_.descent = std::max(line_.descent, textHeight - ascent_);
    line_.height = std::max(line_.height, ascent_);
    return lineTop;
  }
  switch (style.verticalAlign) {
    case 0: return lineTop;
    case 1: return lineTop + (line_.height - fontHeight_) / 2;
    case 2: return lineTop + line_.height - ascent_;
    default: return lineTop + line_.height - ascent_ - line_.descent;
  }
}

int CPPHtmlDrawer::AlignObjectVertically(int lineTop, int objectHeight) {
  if (measuring_) {
    line_.height = std::max(line_.height, objectHeight);
    return lineTop;
  }
  switch (style.verticalAlign) {
    case 0: return lineTop;
    case 1: return lineTop + (line_.height - objectHeight) / 2;
    case 2: return lineTop + line_.height - objectHeight;
    default: return lineTop + line_.height - line_.descent - objectHeight;
  }
}

void CPPHtmlDrawer::RenderTextRun(std::u16string_view run, Area area, QSize* size) {
  runShadowColor_ = colorsEnabled ? shadowColor_ : disabledColor;
  std::u16string text = u"<body>";
  text.append(run);
  text.append(u"</body>");
  area_ = area;
  measured_ = 0;
  size_t firstLine = lines_.size();
  y_ = area.top;
  x_ = BeginLine(area.left);
  std::u16string piece, tag;
  for (size_t pos = 0; pos < text.size();) {
    pos = GetNextToken(text, pos, &piece, &tag);
    if (!piece.empty()) HandleText(piece);
    if (tag.empty()) continue;
    MarkupTagResult r = InterpretTag(tag);
    if (r.object) HandleObject(r);
    else if (r.restyle) SelectStyleFont();
  }
  if (x_ != lineStartX_) EndLine(1, false);
  justifyExtra_ = justifySpaces_ = 0;
  if (measuring_ && !lines_.empty()) lines_.pop_back();  // the line begun after the last end
  int width = measured_;
  if (measuring_)
    for (size_t i = firstLine; i < lines_.size(); ++i)
      if (lines_[i].percentWidth)
        width = std::max<long long>(width, lines_[i].width + MarkupMulDiv(lines_[i].percentWidth, measured_, 100));
  *size = QSize(ClampCoord(width), ClampCoord(static_cast<long long>(y_) - area.top));
}

void CPPHtmlDrawer::HandleText(std::u16string text) {
  switch (style.textTransform) {
    case 1: text = MarkupUpper(text); break;
    case 2: text = MarkupLower(text); break;
    case 3:
      for (size_t i = 0; i < text.size(); ++i)
        if ((i == 0 || text[i - 1] == u' ') && text[i] >= u'a' && text[i] <= u'z') text[i] = static_cast<char16_t>(text[i] - 32);
      break;
    default: break;
  }
  while (!text.empty()) {
    int saveExtra = justifyExtra_, saveSpaces = justifySpaces_;
    int w = TextWidth(Q(text));
    int ty = AlignTextVertically(y_, fontHeight_);
    int room = area_.left + area_.width() - x_;
    std::u16string part, rest;
    int partWidth = w;
    if (maxWidth_ && area_.width() && w > room) {
      WrapText(text, room, &part, &rest, &partWidth);
    } else {
      part = text;
    }
    if (measuring_) {
      line_.align = style.textAlign;
      line_.spaceCount += CountSpaces(part);
    } else if (!part.empty()) {
      if (partWidth == remainingWidth_ && part.back() == u' ') {
        std::u16string trimmed(TrimRight(part));
        remainingSpaces_ -= CountSpaces(part) - CountSpaces(trimmed);
        remainingWidth_ -= partWidth - TextWidth(Q(trimmed));
        part = trimmed;
      }
      justifyExtra_ = saveExtra;
      justifySpaces_ = saveSpaces;
      if (line_.align == 3 && line_.wrapped) {
        justifyExtra_ = std::max(0, room - remainingWidth_);
        justifySpaces_ = remainingSpaces_;
        justifyUsed_ = 0;
      }
      QString q = Q(part);
      int natural = TextWidth(q);
      partWidth = JustifiedWidth(q);
      AddHotArea(QRect(x_, ty, partWidth, fontHeight_));
      DrawJustifiedText(x_, ty, q);
      if (style.overline) {
        painter_->setPen(QPen(MarkupQColor(style.textColor), style.fontWeight >= 700 ? 2 : 1));
        painter_->drawLine(x_, ty, x_ + partWidth, ty);
      }
      remainingSpaces_ -= CountSpaces(part);
      remainingWidth_ -= natural;
    }
    x_ = ClampCoord(static_cast<long long>(x_) + partWidth);
    text = rest;
    if (!text.empty()) EndLine(1, true);
  }
}

bool CPPHtmlDrawer::WrapText(const std::u16string& text, int room, std::u16string* part, std::u16string* rest, int* partWidth) {
  static constexpr std::u16string_view kBreaks = u" -.,!:;)}]?";
  size_t kept = npos;
  for (size_t i = text.find_first_of(kBreaks); i != npos; i = text.find_first_of(kBreaks, i + 1)) {
    if (TextWidth(Q(std::u16string_view(text).substr(0, i))) > room) break;
    kept = i;
  }
  if (kept != npos) {
    *part = std::u16string(TrimRight(std::u16string_view(text).substr(0, kept + 1)));
    *rest = std::u16string(TrimLeft(std::u16string_view(text).substr(kept + 1)));
    *partWidth = TextWidth(Q(*part));
    return true;
  }
  // A line that holds nothing yet takes at least one character, so every
  // pass makes progress.
  if (x_ == lineStartX_) {
    size_t n = 1;
    while (n < text.size() && TextWidth(Q(std::u16string_view(text).substr(0, n + 1))) <= room) ++n;
    *part = text.substr(0, n);
    *rest = text.substr(n);
    *partWidth = TextWidth(Q(*part));
    return true;
  }
  part->clear();
  *rest = text;
  *partWidth = 0;
  return false;
}

int CPPHtmlDrawer::TagCount(std::u16string_view attributes) const {
  if (attributes.empty()) return 1;
  return std::clamp(ParseSize(attributes.substr(1), 1, false), 0, kMaxCount);
}

void CPPHtmlDrawer::HandleObject(const MarkupTagResult& tag) {
  switch (tag.id) {
    case kTagHr: HandleRule(tag.attributes); break;
    case kTagBr: EndLine(TagCount(tag.attributes), false); break;
    case kTagTab: {
      int count = TagCount(tag.attributes);
      if (count == 0) count = 1;
      int offset = x_ - area_.left;
      if (offset % tabSize_ != 0) {
        x_ += tabSize_ - ((offset % tabSize_) + tabSize_) % tabSize_;
        --count;
      }
      x_ = ClampCoord(x_ + static_cast<long long>(count) * tabSize_);
      break;
    }
    case kTagBmp: case kTagIcon: case kTagIlst: HandlePicture(tag.id, tag.attributes); break;
    case kTagString: HandleString(tag.attributes); break;
    default: break;
  }
}

void CPPHtmlDrawer::HandleString(std::u16string_view attributes) {
  int idres = 0, iddll = 0;
  std::u16string srcdll;
  for (const auto& a : ParseAttributes(attributes)) {
    if (a.name == u"idres") idres = ParseSize(a.value, 0, false);
    else if (a.name == u"iddll") iddll = ParseSize(a.value, 0, false);
    else if (a.name == u"srcdll") srcdll = a.value;
  }
  std::optional<std::u16string> text;
  if (iddll > 0) text = LoadResourceString(iddll, false, srcdll);
  else if (idres > 0) text = LoadResourceString(idres, true, {});
  if (!text || text->empty()) return;
  // Strings are neither wrapped nor justified.
  const QString q = Q(*text);
  const int saveExtra = justifyExtra_, saveSpaces = justifySpaces_;
  justifyExtra_ = justifySpaces_ = 0;
  const int width = TextWidth(q);
  if (measuring_) line_.align = style.textAlign;
  const int top = AlignTextVertically(y_, fontHeight_);
  if (!measuring_) {
    AddHotArea(QRect(x_, top, width, fontHeight_));
    DrawJustifiedText(x_, top, q);
  }
  justifyExtra_ = saveExtra;
  justifySpaces_ = saveSpaces;
  x_ = ClampCoord(static_cast<long long>(x_) + width);
}

void CPPHtmlDrawer::HandleRule(std::u16string_view attributes) {
  HtmlStyle s = style;
  s.borderWidth = 1;
  ApplyCssRule(u"hr", s);
  bool percent = true;
  int width = 100;
  for (const auto& a : ParseAttributes(attributes)) {
    if (a.name == u"width") {
      percent = !a.value.empty() && a.value.back() == u'%';
      width = ParseSize(a.value, 100, false);
    } else if (a.name == u"size") {
      s.borderWidth = ParseSize(a.value, s.borderWidth, false);
    } else if (a.name == u"color") {
      s.textColor = MarkupColor(a.value, s.textColor);
    }
  }
  width = std::max(0, width);
  int taken;
  if (measuring_) {
    if (percent) line_.percentWidth += width;
    taken = percent ? 1 : width;
    line_.height = std::max(line_.height, s.borderWidth + 8);
    line_.align = style.textAlign;
  } else {
    taken = percent ? static_cast<int>(MarkupMulDiv(area_.width(), width, 100)) : width;
    int y = y_ + line_.height / 2;
    if (s.borderWidth > 0) {
      painter_->setPen(QPen(MarkupQColor(s.textColor), s.borderWidth, Qt::SolidLine, Qt::FlatCap));
      painter_->drawLine(x_, y, x_ + taken, y);
    }
  }
  x_ = ClampCoord(static_cast<long long>(x_) + taken);
}

QImage CPPHtmlDrawer::LoadPicture(int id, const Picture& p) const {
  // The first source named is the one used.
  QImage img;
  if (p.idres > 0) img = LoadResourcePicture(id, p.idres, true, {});
  else if (!p.file.empty()) img.load(Q(p.file));
  else if (p.iddll > 0) img = LoadResourcePicture(id, p.iddll, false, p.srcdll);
  else if (p.handle > 0 && static_cast<size_t>(p.handle) <= handles_.size()) img = handles_[static_cast<size_t>(p.handle - 1)];
  return img;
}

CPPHtmlDrawer::Picture CPPHtmlDrawer::ParsePicture(std::u16string_view attributes) const {
  Picture p;
  for (const auto& a : ParseAttributes(attributes)) {
    const auto& n = a.name;
    const auto& v = a.value;
    auto num = [&](int cur) { return ParseSize(v, cur, false); };
    if (n == u"index") p.index = num(p.index);
    else if (n == u"cx") p.cx = num(p.cx);
    else if (n == u"cy") p.cy = num(p.cy);
    else if (n == u"speed") p.speed = num(p.speed);
    else if (n == u"handle") p.handle = static_cast<long long>(MarkupUnsigned(v));
    else if (n == u"idres") p.idres = num(p.idres);
    else if (n == u"iddll") p.iddll = num(p.iddll);
    else if (n == u"srcdll") p.srcdll = v;
    else if (n == u"file") p.file = v;
    else if (n == u"width") {
      p.widthPercent = !v.empty() && v.back() == u'%';
      p.width = ParseSize(v, 100, false);
    } else if (n == u"height") {
      p.heightPercent = !v.empty() && v.back() == u'%';
      p.height = ParseSize(v, 100, false);
    } else if (n == u"mask") {
      p.mask = ParseColor(v, p.mask);
      p.hasMask = 1;
    } else if (n == u"style" || n == u"hotstyle") {
      int flags = 0;
      for (char16_t c : v) {
        if (c == u'g') flags |= CPPDrawManager::kEffectGray;
        else if (c == u'd') flags |= CPPDrawManager::kEffectDarken;
        else if (c == u'l') flags |= CPPDrawManager::kEffectLighten;
        else if (c == u's' && (shadowDx_ || shadowDy_))
          flags |= shadowSoft_ ? CPPDrawManager::kEffectSoftShadow : CPPDrawManager::kEffectHardShadow;
      }
      if (n == u"style") p.style = flags;
      p.hotStyle = flags;
    }
  }
  return p;
}

int CPPHtmlDrawer::AnimatedFrame(const Picture& p, int count) {
  if (p.speed <= 0) return p.index;
  if (measuring_) {
    // A new measuring pass keeps the frame a running animation has reached.
    Animation a{p.index, count, 0, p.speed};
    const size_t k = animations_.size();
    if (k < previousAnimations_.size() && previousAnimations_[k].frameCount == count &&
        previousAnimations_[k].speed == p.speed) {
      a.frame = previousAnimations_[k].frame;
      a.tick = previousAnimations_[k].tick;
    }
    animations_.push_back(a);
    return p.index;
  }
  ++animationCounter_;
  if (animationCounter_ >= 0 && static_cast<size_t>(animationCounter_) < animations_.size())
    return animations_[static_cast<size_t>(animationCounter_)].frame;
  return p.index;
}

bool CPPHtmlDrawer::PreparePicture(int id, Picture& p, PreparedPicture& out) {
  out.source = LoadPicture(id, p);
  if (out.source.isNull() && id == kTagIlst && !imageList_.isNull() && imageListCx_ > 0) {
    out.source = imageList_;
    p.cx = imageListCx_;
    p.cy = imageListCy_ > 0 ? imageListCy_ : imageListCx_;
    out.fromList = true;
  }
  if (out.source.isNull()) return false;  // missing pictures take no space
  out.frame = out.source;
  out.base = out.source.size();
  out.index = p.index;
  // A loaded icon comes at the size asked for, in percent of the desktop's icon size.
  if (id == kTagIcon && (p.idres > 0 || !p.file.empty() || p.iddll > 0)) out.base = QSize(kIconSize, kIconSize);
  if (id != kTagIlst) return true;
  if (!out.fromList) {
    if (p.cx <= 0 && p.cy <= 0) p.cx = p.cy = std::min(out.source.width(), out.source.height());
    else if (p.cx <= 0) p.cx = p.cy;
    else if (p.cy <= 0) p.cy = p.cx;
  }
  if (p.cx <= 0 || p.cy <= 0) return false;
  const int columns = out.source.width() / p.cx, rows = out.source.height() / p.cy;
  const int count = columns * rows;
  out.index = AnimatedFrame(p, count);
  if (out.index < 0 || out.index >= count) return false;  // a frame beyond the strip draws nothing
  out.frame = out.source.copy((out.index % columns) * p.cx, (out.index / columns) * p.cy, p.cx, p.cy);
  out.base = QSize(p.cx, p.cy);
  return true;
}

void CPPHtmlDrawer::DrawPicture(int id, const Picture& p, const PreparedPicture& pic, QRect room, QSize size,
                                bool shadow) {
  int flags = style.linkKind && linkCounter == hoveredLink ? p.hotStyle : p.style;
  if (!colorsEnabled) flags = (flags & 0x300) | CPPDrawManager::kEffectReplace;
  const uint32_t effects = static_cast<uint32_t>(flags);
  const int w = size.width(), h = size.height();
  DrawThroughManager(room, [&](CPPDrawManager& manager, QImage& dc) {
    if (id == kTagBmp)
      manager.DrawBitmap(dc, 0, 0, w, h, pic.source, p.hasMask != 0, p.mask, effects, shadow, shadowDx_, shadowDy_,
                         shadowBlurX_, shadowBlurY_, runShadowColor_);
    else if (id == kTagIlst && !pic.fromList)
      manager.DrawImageListFrame(dc, 0, 0, w, h, pic.source, pic.index, p.cx, p.cy, p.hasMask != 0, p.mask, effects,
                                 shadow, shadowDx_, shadowDy_, shadowBlurX_, shadowBlurY_, runShadowColor_);
    else
      manager.DrawIcon(dc, 0, 0, w, h, pic.frame, effects, shadow, shadowDx_, shadowDy_, shadowBlurX_, shadowBlurY_,
                       runShadowColor_);
  });
}

void CPPHtmlDrawer::HandlePicture(int id, std::u16string_view attributes) {
  Picture p = ParsePicture(attributes);
  PreparedPicture pic;
  if (!PreparePicture(id, p, pic)) return;
  int width = p.widthPercent ? static_cast<int>(MarkupMulDiv(pic.base.width(), p.width, 100)) : p.width;
  int height = p.heightPercent ? static_cast<int>(MarkupMulDiv(pic.base.height(), p.height, 100)) : p.height;
  width = std::clamp(width, 0, kMaxMarkupLength);
  height = std::clamp(height, 0, kMaxMarkupLength);
  const bool shadow = width && height && ((p.style | p.hotStyle) & 0x300);
  const int spaceW = width + (shadow ? std::abs(shadowDx_) : 0);
  const int spaceH = height + (shadow ? std::abs(shadowDy_) : 0);
  if (maxWidth_ && area_.width() && spaceW > area_.left + area_.width() - x_) EndLine(1, true);
  if (measuring_) line_.align = style.textAlign;
  const int top = AlignObjectVertically(y_, spaceH);
  if (!measuring_ && width && height) {
    const QRect room(x_, top, spaceW, spaceH);
    AddHotArea(room);
    DrawPicture(id, p, pic, room, QSize(width, height), shadow);
  }
  x_ = ClampCoord(static_cast<long long>(x_) + spaceW);
}

void CPPHtmlDrawer::DrawThroughManager(const QRect& r, const DrawEffect& effect) {
  if (r.width() <= 0 || r.height() <= 0 || !painter_) return;
  // The effects read what is already drawn (shadows darken it, masks keep
  // it): on an image device they start from its pixels under the rectangle.
  const auto* image = dynamic_cast<const QImage*>(painter_->device());
  const QTransform t = painter_->deviceTransform();
  if (image && t.type() <= QTransform::TxTranslate) {
    QImage canvas = image->copy(t.mapRect(r)).convertToFormat(QImage::Format_ARGB32);
    effect(drawManager_, canvas);
    painter_->save();
    painter_->setCompositionMode(QPainter::CompositionMode_Source);
    painter_->drawImage(r.topLeft(), canvas);
    painter_->restore();
    return;
  }
  // Any other device: the effect runs over black and over white, and the two
  // results give each pixel's colour and coverage, so blends and shadows keep
  // their strength over whatever lies below.
  QImage black(r.size(), QImage::Format_RGB32), white(r.size(), QImage::Format_RGB32);
  black.fill(Qt::black);
  white.fill(Qt::white);
  CPPDrawManager twin;
  twin.CopyRandomState(drawManager_);
  effect(drawManager_, black);
  effect(twin, white);
  QImage out(r.size(), QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    const auto* b = reinterpret_cast<const QRgb*>(black.constScanLine(y));
    const auto* w = reinterpret_cast<const QRgb*>(white.constScanLine(y));
    auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const int spread = std::max({qRed(w[x]) - qRed(b[x]), qGreen(w[x]) - qGreen(b[x]), qBlue(w[x]) - qBlue(b[x]), 0});
      const int alpha = 255 - std::min(spread, 255);
      auto unblend = [alpha](int c) { return alpha ? std::min(255, c * 255 / alpha) : 0; };
      o[x] = qRgba(unblend(qRed(b[x])), unblend(qGreen(b[x])), unblend(qBlue(b[x])), alpha);
    }
  }
  painter_->drawImage(r.topLeft(), out);
}

void CPPHtmlDrawer::FillEffect(const QRect& r, int effect, ColorRef first, ColorRef mid, ColorRef last) {
  DrawThroughManager(r, [&](CPPDrawManager& manager, QImage& dc) {
    manager.FillEffect(dc, effect, QRect(QPoint(0, 0), r.size()), first, mid, last, kFillGranularity, 0);
  });
}

void CPPHtmlDrawer::TileBackground(const QRect& r, std::u16string_view backImage) {
  if (!colorsEnabled || backImage.size() <= 5) return;
  const size_t cut = backImage.find_first_of(u" :");
  const size_t colon = backImage.find(u':');
  if (colon == std::u16string_view::npos) return;
  const std::u16string_view kind = backImage.substr(0, cut);
  std::u16string_view value = backImage.substr(colon + 1);
  value = value.substr(0, value.find(u';'));
  QImage picture;
  if (kind == u"file") picture = QImage(Q(value));
  else if (kind == u"idres" || kind == u"iddll")
    picture = LoadResourcePicture(kTagBmp, ParseSize(value, 0, false), kind == u"idres", {});
  if (picture.isNull()) return;
  DrawThroughManager(r, [&](CPPDrawManager& manager, QImage& dc) {
    manager.TileBitmap(dc, 0, 0, r.width(), r.height(), picture, 0, 0, picture.width(), picture.height());
  });
}

void CPPHtmlDrawer::DrawFrame(const QRect& r, ColorRef topLeft, ColorRef bottomRight, int style, int width) {
  if (style == 0 || width <= 0 || r.width() <= 0 || r.height() <= 0) return;
  DrawThroughManager(r, [&](CPPDrawManager& manager, QImage& dc) {
    manager.DrawRectangle(dc, QRect(QPoint(0, 0), r.size()), topLeft, bottomRight, style, width);
  });
}

void CPPHtmlDrawer::RenderTable(std::u16string_view table, Area area, QSize* size, int depth) {
  *size = QSize(0, 0);
  if (depth >= kMaxTableNesting) return;
  ++tableCounter_;
  if (measuring_) {
    auto [rows, columns] = CountTableGrid(table);
    TableLayout layout;
    layout.cells.assign(static_cast<size_t>(rows), std::vector<CellRecord>(static_cast<size_t>(columns)));
    layout.columnWidths.assign(static_cast<size_t>(columns), 0);
    layout.rowHeights.assign(static_cast<size_t>(rows), 0);
    layout.fixedColumns.assign(static_cast<size_t>(columns), 0);
    tables_.push_back(std::move(layout));
  }
  const size_t index = static_cast<size_t>(tableCounter_);  // nested tables move the counter on
  if (index >= tables_.size()) return;
  TableLayout layout = tables_[index];
  const int R = static_cast<int>(layout.rowHeights.size());
  const int C = static_cast<int>(layout.columnWidths.size());

  style.pairName = u"table";
  PushPopStyle(false);
  ApplyCssRule(u"table", style);
  std::u16string attrs;
  FirstTag(table, &attrs);
  ParseTableAttributes(attrs, style, true);
  SelectStyleFont();
  const HtmlStyle ts = style;
  const int border = ts.borderStyle == 6 ? 6 : 2 * ts.borderWidth;

  auto tableSize = [&](const TableLayout& l) {
    long long w = (C + 1LL) * ts.cellSpacing + std::max(0, C - 1) + border;
    long long h = (R + 1LL) * ts.cellSpacing + std::max(0, R - 1) + border;
    for (int c : l.columnWidths) w += c;
    for (int r : l.rowHeights) h += r;
    return QSize(ClampCoord(w), ClampCoord(h));
  };

  Area inner = area;
  if (!measuring_) {
    QSize s = tableSize(layout);
    int W = s.width();
    if (W < area.width()) {
      int free = static_cast<int>(std::count(layout.fixedColumns.begin(), layout.fixedColumns.end(), 0));
      int diff = area.width() - W;
      for (int c = 0; c < C && free > 0; ++c) {
        if (layout.fixedColumns[static_cast<size_t>(c)]) continue;
        int share = diff / free--;
        layout.columnWidths[static_cast<size_t>(c)] += share;
        diff -= share;
        W += share;
      }
    }
    int left = area.left;
    if (W < area.width()) {
      if (ts.textAlign == 1) left += (area.width() - W) / 2;
      else if (ts.textAlign == 2) left = area.right - W;
    }
    QRect rect(left, area.top, W, s.height());
    *size = rect.size();
    if (ts.backEffect >= 0) FillEffect(rect, ts.backEffect, ts.backColor, ts.backMidColor, ts.backEndColor);
    else if (!ts.backImage.empty()) TileBackground(rect, ts.backImage);
    if (ts.borderWidth >= 1) {
      ColorRef light = colorsEnabled ? ts.borderLightColor : disabledColor;
      ColorRef dark = colorsEnabled ? ts.borderDarkColor : disabledColor;
      DrawFrame(rect, light, dark, ts.borderStyle, ts.borderWidth);
    }
    int shrink = ts.borderStyle == 6 ? 3 : ts.borderWidth;
    inner = Area{rect.left() + shrink, rect.top() + shrink, rect.left() + W - shrink, rect.top() + s.height() - shrink};
  }

  TableScan scan(table);
  auto rows = scan.Rows();
  for (int r = 0; r < R && r < static_cast<int>(rows.size()); ++r) {
    const auto [rowStart, rowEnd] = rows[static_cast<size_t>(r)];
    RenderTableRow(table, rowStart, rowEnd, scan.Cells(rowStart, rowEnd), inner, layout, r, depth);
  }

  if (measuring_) {
    for (int s = 1; s <= C; ++s)
      for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
          const CellRecord& cell = layout.cells[static_cast<size_t>(r)][static_cast<size_t>(c)];
          if (cell.colSpan != s) continue;
          int span = std::min(s, C - c);
          long long sum = 0;
          for (int k = 0; k < span; ++k) {
            sum += layout.columnWidths[static_cast<size_t>(c + k)];
            if (cell.fixedWidth) layout.fixedColumns[static_cast<size_t>(c + k)] = 1;
          }
          if (sum < cell.outerWidth) {
            int extra = static_cast<int>(cell.outerWidth - sum);
            for (int k = 0; k < span; ++k) layout.columnWidths[static_cast<size_t>(c + k)] += extra / span;
            layout.columnWidths[static_cast<size_t>(c + span - 1)] += extra % span;
          }
        }
    for (int s = 1; s <= R; ++s)
      for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
          const CellRecord& cell = layout.cells[static_cast<size_t>(r)][static_cast<size_t>(c)];
          if (cell.rowSpan != s) continue;
          int span = std::min(s, R - r);
          long long sum = 0;
          for (int k = 0; k < span; ++k) sum += layout.rowHeights[static_cast<size_t>(r + k)];
          if (sum < cell.outerHeight) {
            int extra = static_cast<int>(cell.outerHeight - sum);
            for (int k = 0; k < span; ++k) layout.rowHeights[static_cast<size_t>(r + k)] += extra / span;
            layout.rowHeights[static_cast<size_t>(r)] += extra % span;
          }
        }
    *size = tableSize(layout);
  }
  tables_[index] = layout;
  style.pairName = u"table";
  if (PushPopStyle(true)) SelectStyleFont();
}

void CPPHtmlDrawer::RenderTableRow(std::u16string_view table, size_t rowStart, size_t rowEnd,
                                   const std::vector<std::pair<size_t, size_t>>& rowCells, Area inner,
                                   TableLayout& layout, int row, int depth) {
  style.pairName = u"tr";
  PushPopStyle(false);
  ApplyCssRule(u"tr", style);
  std::u16string attrs;
  FirstTag(table.substr(rowStart, rowEnd - rowStart), &attrs);
  ParseTableAttributes(attrs, style, false);
  SelectStyleFont();
  const int C = static_cast<int>(layout.columnWidths.size());
  const int R = static_cast<int>(layout.rowHeights.size());
  auto& cells = layout.cells[static_cast<size_t>(row)];
  int col = 0;
  for (const auto& [start, end] : rowCells) {
    while (col < C && cells[static_cast<size_t>(col)].colSpan < 0) ++col;
    if (col >= C) break;  // cells beyond the grid are dropped
    std::u16string_view cellText = table.substr(start, end - start);
    std::u16string cellAttrs;
    FirstTag(cellText, &cellAttrs);
    HtmlStyle probe;
    auto spans = ParseTableAttributes(cellAttrs, probe, false);
    int colspan = std::clamp(spans.first, 1, C - col);
    int rowspan = std::clamp(spans.second, 1, R - row);
    Area rect;
    if (!measuring_) {
      const int sp = style.cellSpacing;
      long long left = inner.left + sp;
      for (int c = 0; c < col; ++c) left += sp + layout.columnWidths[static_cast<size_t>(c)] + 1;
      long long right = left + (colspan - 1LL) * (sp + 1);
      for (int c = col; c < col + colspan; ++c) right += layout.columnWidths[static_cast<size_t>(c)];
      long long top = inner.top + sp;
      for (int r = 0; r < row; ++r) top += sp + layout.rowHeights[static_cast<size_t>(r)] + 1;
      long long bottom = top + (rowspan - 1LL) * (sp + 1);
      for (int r = row; r < row + rowspan; ++r) bottom += layout.rowHeights[static_cast<size_t>(r)];
      rect = Area{ClampCoord(left), ClampCoord(top), ClampCoord(right), ClampCoord(bottom)};
    }
    RenderTableCell(cellText, rect, cells[static_cast<size_t>(col)], depth);
    if (measuring_) {
      CellRecord& rec = cells[static_cast<size_t>(col)];
      rec.colSpan = colspan;
      rec.rowSpan = rowspan;
      for (int k = 1; k < colspan; ++k) cells[static_cast<size_t>(col + k)].colSpan = cells[static_cast<size_t>(col + k)].rowSpan = -1;
      for (int k = 1; k < rowspan; ++k) {
        auto& below = layout.cells[static_cast<size_t>(row + k)][static_cast<size_t>(col)];
        below.colSpan = below.rowSpan = -1;
      }
    }
    col += colspan;
  }
  style.pairName = u"tr";
  if (PushPopStyle(true)) SelectStyleFont();
}

void CPPHtmlDrawer::RenderTableCell(std::u16string_view cell, Area rect, CellRecord& record, int depth) {
  style.pairName = u"td";
  PushPopStyle(false);
  ApplyCssRule(u"td", style);
  style.width = style.height = style.spare1 = style.spare2 = 0;
  std::u16string attrs;
  size_t pos = FirstTag(cell, &attrs);
  ParseTableAttributes(attrs, style, false);
  SelectStyleFont();
  const HtmlStyle cs = style;
  Area area;
  if (measuring_) {
    record.contentWidth = std::max(0, cs.width);
    record.contentHeight = 0;
    record.fixedWidth = cs.width > 0;
    area = Area{0, 0, std::max(0, cs.width), 0};
  } else {
    area = rect;
    QRect qr(rect.left, rect.top, rect.width(), rect.height());
    if (cs.backEffect >= 0) FillEffect(qr, cs.backEffect, cs.backColor, cs.backMidColor, cs.backEndColor);
    if (cs.borderStyle != 0)
      DrawFrame(qr, colorsEnabled ? cs.borderDarkColor : disabledColor, colorsEnabled ? cs.borderLightColor : disabledColor, cs.borderStyle, 1);
    int shrink = cs.cellPadding + cs.borderWidth;
    area = Area{area.left + shrink, area.top + shrink, area.right - shrink, area.bottom - shrink};
    if (cs.verticalAlign == 1) area.top += (area.height() - record.contentHeight) / 2;
    else if (cs.verticalAlign == 2) area.top = area.bottom - record.contentHeight;
  }
  int contentWidth = 0, contentHeight = 0;
  while (pos < cell.size()) {
    size_t table = FindTag(cell, u"table", pos);
    size_t runEnd = table == npos ? cell.size() : table;
    QSize piece;
    if (runEnd > pos) {
      RenderTextRun(cell.substr(pos, runEnd - pos), area, &piece);
      area.top = ClampCoord(static_cast<long long>(area.top) + piece.height());
      contentWidth = std::max(contentWidth, piece.width());
      contentHeight = ClampCoord(static_cast<long long>(contentHeight) + piece.height());
    }
    if (table == npos) break;
    size_t end = FindTableEnd(cell, table);
    RenderTable(cell.substr(table, end == npos ? npos : end - table), area, &piece, depth + 1);
    area.top = ClampCoord(static_cast<long long>(area.top) + piece.height());
    contentWidth = std::max(contentWidth, piece.width());
    contentHeight = ClampCoord(static_cast<long long>(contentHeight) + piece.height());
    if (end == npos) break;
    size_t gt = cell.find(u'>', end);
    pos = gt == npos ? cell.size() : gt + 1;
  }
  if (measuring_) {
    record.contentWidth = std::max(record.contentWidth, contentWidth);
    record.contentHeight = contentHeight;
    int frame = 2 * cs.cellPadding + 2 * cs.borderWidth;
    record.outerWidth = std::max(record.contentWidth, cs.width) + frame;
    record.outerHeight = std::max(record.contentHeight, cs.height) + frame;
  }
  style.pairName = u"td";
  if (PushPopStyle(true)) SelectStyleFont();
}

void CPPHtmlDrawer::AddHotArea(const QRect& r) {
  if (measuring_ || style.linkKind == 0) return;
  hotAreas_.push_back(HotArea{r, style.linkKind, linkCounter, style.linkTarget});
}

int CPPHtmlDrawer::HitTestHotArea(QPoint p) const {
  for (size_t i = 0; i < hotAreas_.size(); ++i) {
    const QRect& r = hotAreas_[i].rect;
    // Right and bottom edges count too.
    if (p.x() >= r.left() && p.x() <= r.left() + r.width() && p.y() >= r.top() && p.y() <= r.top() + r.height())
      return static_cast<int>(i);
  }
  return -1;
}

void CPPHtmlDrawer::NotifyHover(int link) {
  if (hoverCallback_) hoverCallback_(link);
}

bool CPPHtmlDrawer::TrackHotArea(QPoint p) {
  int i = HitTestHotArea(p);
  if (i >= 0) {
    const HotArea& a = hotAreas_[static_cast<size_t>(i)];
    if (a.linkIndex != hoveredLink) {
      hoveredLink = a.linkIndex;
      NotifyHover(hoveredLink);
    }
    return !a.target.empty();
  }
  if (hoveredLink != -2) {
    hoveredLink = -2;
    NotifyHover(-2);
  }
  return false;
}

void CPPHtmlDrawer::ClickHotArea(QPoint p) {
  int i = HitTestHotArea(p);
  if (i >= 0) ActivateHotArea(i);
}

long CPPHtmlDrawer::ActivateHotArea(int index) {
  if (index < 0 || static_cast<size_t>(index) >= hotAreas_.size()) return 0;
  const HotArea a = hotAreas_[static_cast<size_t>(index)];
  if (a.target.empty()) return 0;
  if (a.kind == 1) return GotoURL(a.target);
  if (a.kind == 2 && linkCallback_) return linkCallback_(a.target);
  return 0;
}

std::u16string CPPHtmlDrawer::HtmlHandlerCommand(const std::u16string& address) {
  Registry& reg = Registry::Instance();
  HKEY key = 0;
  std::u16string cls, command;
  if (reg.OpenKey(HKEY_CLASSES_ROOT, u".htm", &key) != ERROR_SUCCESS) return {};
  long rc = reg.QueryValue(key, u"", &cls);
  reg.CloseKey(key);
  if (rc != ERROR_SUCCESS || cls.empty()) return {};
  if (reg.OpenKey(HKEY_CLASSES_ROOT, cls + u"\\shell\\open\\command", &key) != ERROR_SUCCESS) return {};
  rc = reg.QueryValue(key, u"", &command);
  reg.CloseKey(key);
  if (rc != ERROR_SUCCESS) return {};
  size_t cut = command.find(u"\"%1\"");
  if (cut == npos) cut = command.find(u"%1");
  if (cut != npos) command.resize(cut);
  return command + u" " + address;
}

int CPPHtmlDrawer::GotoURL(const std::u16string& address) {
  SetHyperlinkCursor(nullptr);
  bool opened = urlOpener_ ? urlOpener_(address) : QDesktopServices::openUrl(QUrl::fromUserInput(Q(address)));
  if (opened) return 33;
  // Nothing opened it: the registered handler's command is composed but not run.
  lastHandlerCommand = HtmlHandlerCommand(address);
  return 2;
}

void CPPHtmlDrawer::SetHyperlinkCursor(const QCursor* cursor) {
  linkCursor_ = cursor ? *cursor : QCursor(Qt::PointingHandCursor);
}

bool CPPHtmlDrawer::SetHyperlinkCursor(int cursorId) {
  const std::optional<QCursor> cursor = ResourceModule::Application().LoadCursor(cursorId);
  SetHyperlinkCursor(cursor ? &*cursor : nullptr);
  return cursor.has_value();
}

bool CPPHtmlDrawer::AnimationTick() {
  bool changed = false;
  for (auto& a : animations_) {
    if (a.frameCount <= 0) continue;
    if (++a.tick >= a.speed) {
      a.tick = 0;
      if (++a.frame >= a.frameCount) a.frame = 0;
      changed = true;
    }
  }
  return changed;
}

}  // namespace qm
