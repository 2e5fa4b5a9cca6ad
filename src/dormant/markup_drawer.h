#pragma once
// Renders the mark-up language into a QPainter in two passes: measuring
// fills the line records and the table layouts, drawing reads them back in
// the same order and records the hot areas of links.
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/resources.h"
#include "dormant/draw_manager.h"
#include "dormant/markup_parse_core.h"

namespace qm {

QColor MarkupQColor(ColorRef c);

class CPPHtmlDrawer : public MarkupLanguage {
 public:
  struct Line {
    int width = 0;
    int height = 0;
    int descent = 0;
    int percentWidth = 0;
    int align = 0;
    int spaceCount = 0;
    int wrapped = 0;
  };
  struct CellRecord {
    int colSpan = 0;
    int rowSpan = 0;
    int contentWidth = 0;
    int contentHeight = 0;
    int outerWidth = 0;
    int outerHeight = 0;
    int fixedWidth = 0;
  };
  struct TableLayout {
    std::vector<std::vector<CellRecord>> cells;
    std::vector<int> columnWidths;
    std::vector<int> rowHeights;
    std::vector<int> fixedColumns;
  };
  struct HotArea {
    QRect rect;  // edges included
    int kind = 0;
    int linkIndex = 0;
    std::u16string target;
  };
  struct Animation {
    int frame = 0;
    int frameCount = 0;
    int tick = 0;
    int speed = 0;
  };

  CPPHtmlDrawer();
  ~CPPHtmlDrawer() override;

  QSize PrepareOutput(QPainter& painter, std::u16string_view text);
  void DrawPreparedOutput(QPainter& painter, const QRect& rect);
  QSize DrawHtml(QPainter& painter, std::u16string_view text, QPoint at);

  void SetMaxWidth(int width) { maxWidth_ = std::max(0, width); }
  int GetMaxWidth() const { return maxWidth_; }
  // A stop distance below one pixel would divide by zero: one pixel is the least.
  void SetTabSize(int pixels) { tabSize_ = std::max(1, pixels); }
  void EnableColors(bool on) { colorsEnabled = on; }
  void SetDisabledColor(ColorRef c) { disabledColor = c; }
  void SetNewlineToBreak(bool on) { newlineToBreak = on; }
  void SetImageShadow(int dx, int dy, int darkness, bool soft, int blurX, int blurY);
  // The picture strip for `ilst` tags without a source; pixels of the mask colour are transparent.
  void SetImageList(const QImage& strip, int pictureWidth, int pictureHeight, ColorRef mask);
  // The same from a bitmap resource of the program; false when it does not exist.
  bool SetImageList(int bitmapId, int pictureWidth, int pictureHeight, ColorRef mask);
  // Pictures handed over by the host, named in the mark-up as handle=<number>.
  int AddPictureHandle(const QImage& picture);

  // Where `iddll` pictures and strings come from when no module is named:
  // the given module (not owned; null: none), or a module file loaded here
  // and owned. A file that cannot be loaded leaves none (false). The load
  // flags have nothing to choose among here and are ignored.
  void SetResourceInstance(const ResourceModule* module);
  bool SetResourceDll(const QString& path, int flags = 0);
  const ResourceModule* GetResourceInstance() const { return instance_; }
  // Line `index` (from 0) of a string resource of the program; empty when either is missing.
  static std::u16string GetStringResourceLine(int id, int index);
  // The status bar's font.
  static const QFont& GetStatusFont();
  // The style sheet from a string resource of the program or of the module
  // file `library`; a missing string or module leaves the sheet as it is (false).
  bool SetCssStylesFromResource(int id, const QString& library = QString());

  // Links and hot areas.
  int HitTestHotArea(QPoint p) const;
  bool TrackHotArea(QPoint p);
  void ClickHotArea(QPoint p);
  long ActivateHotArea(int index);
  // Opens an address; when nothing opens it, the registered ".htm" handler's
  // command is composed (and reported through lastHandlerCommand).
  int GotoURL(const std::u16string& address);
  // The ".htm" open command with its "%1" replaced by the address; empty when none is registered.
  static std::u16string HtmlHandlerCommand(const std::u16string& address);
  void SetCallbackHover(std::function<void(int)> fn) { hoverCallback_ = std::move(fn); }
  void SetCallbackLinkMessage(std::function<long(const std::u16string&)> fn) { linkCallback_ = std::move(fn); }
  void SetUrlOpener(std::function<bool(const std::u16string&)> fn) { urlOpener_ = std::move(fn); }
  bool AnimationTick();
  // The cursor shown over links with a target. The same cursor again changes
  // nothing; none brings the hand back. A cursor resource that cannot be
  // loaded brings the hand back too (false).
  void SetHyperlinkCursor(const QCursor* cursor);
  bool SetHyperlinkCursor(int cursorId);
  QCursor GetHyperlinkCursor() const { return linkCursor_; }
  // Background effects and two-colour frames, for the host's own painting too.
  // The drawing-effects manager the renderer draws through.
  CPPDrawManager& GetDrawManager() { return drawManager_; }
  void FillEffectOn(QPainter& painter, const QRect& r, int effect, ColorRef first, ColorRef mid, ColorRef last) {
    painter_ = &painter;
    FillEffect(r, effect, first, mid, last);
  }

  const std::vector<Line>& lines() const { return lines_; }
  const std::vector<TableLayout>& tableLayouts() const { return tables_; }
  const std::vector<HotArea>& hotAreas() const { return hotAreas_; }
  const std::vector<Animation>& animations() const { return animations_; }
  std::u16string lastHandlerCommand;

 private:
  struct Area {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
  };
  struct Picture {
    int index = 0, cx = 0, cy = 0, width = 100, height = 100, speed = 0;
    int style = 0, hotStyle = 0, hasMask = 0, widthPercent = 1, heightPercent = 1;
    int idres = 0, iddll = 0;
    long long handle = 0;
    ColorRef mask = 0xFF00FF;
    std::u16string file, srcdll;
  };
  // The picture a tag names, with the strip frame it shows.
  struct PreparedPicture {
    QImage source;
    QImage frame;
    int index = 0;
    QSize base;  // what percentage sizes refer to
    bool fromList = false;
  };
  Picture ParsePicture(std::u16string_view attributes) const;
  int AnimatedFrame(const Picture& p, int count);
  bool PreparePicture(int id, Picture& p, PreparedPicture& out);
  void DrawPicture(int id, const Picture& p, const PreparedPicture& pic, QRect room, QSize size, bool shadow);

  // Runs a drawing effect on a picture of the rectangle, which it then paints.
  using DrawEffect = std::function<void(CPPDrawManager&, QImage&)>;
  void DrawThroughManager(const QRect& r, const DrawEffect& effect);
  void TileBackground(const QRect& r, std::u16string_view backImage);
  void RenderBody(Area area, QSize* size);
  void RenderTextRun(std::u16string_view run, Area area, QSize* size);
  void RenderTable(std::u16string_view table, Area area, QSize* size, int depth);
  void RenderTableRow(std::u16string_view table, size_t rowStart, size_t rowEnd,
                      const std::vector<std::pair<size_t, size_t>>& rowCells, Area inner, TableLayout& layout, int row,
                      int depth);
  void RenderTableCell(std::u16string_view cell, Area rect, CellRecord& record, int depth);
  void SelectStyleFont();
  int BeginLine(int x);
  void EndLine(int count, bool wrapped);
  int AlignTextVertically(int lineTop, int textHeight);
  int AlignObjectVertically(int lineTop, int objectHeight);
  void HandleText(std::u16string text);
  void HandleObject(const MarkupTagResult& tag);
  void HandleRule(std::u16string_view attributes);
  void HandlePicture(int id, std::u16string_view attributes);
  void HandleString(std::u16string_view attributes);
  int TagCount(std::u16string_view attributes) const;
  bool WrapText(const std::u16string& text, int room, std::u16string* part, std::u16string* rest, int* partWidth);
  int TextWidth(const QString& s) const;
  int JustifiedWidth(const QString& s) const;
  void DrawJustifiedText(int x, int y, const QString& s);
  void AddHotArea(const QRect& r);
  void NotifyHover(int link);
  void FillEffect(const QRect& r, int effect, ColorRef first, ColorRef mid, ColorRef last);
  void DrawFrame(const QRect& r, ColorRef topLeft, ColorRef bottomRight, int style, int width);
  QImage LoadPicture(int id, const Picture& p) const;
  // A picture of the program (idres) or of a module: `library` when named, else the resource instance.
  QImage LoadResourcePicture(int id, int resourceId, bool program, const std::u16string& library) const;
  std::optional<std::u16string> LoadResourceString(int resourceId, bool program, const std::u16string& library) const;

  QPainter* painter_ = nullptr;
  bool measuring_ = true;
  std::u16string text_;
  int maxWidth_ = 0;
  int tabSize_ = 32;
  QFont font_;
  int ascent_ = 0, descent_ = 0, fontHeight_ = 0;

  // State of the text run being laid out.
  Area area_;
  int x_ = 0, y_ = 0, lineStartX_ = 0, measured_ = 0;
  Line line_;
  size_t lineIndex_ = 0;
  int remainingWidth_ = 0, remainingSpaces_ = 0;
  int justifyExtra_ = 0, justifySpaces_ = 0;
  mutable int justifyUsed_ = 0;
  ColorRef runShadowColor_ = 0;

  std::vector<Line> lines_;
  std::vector<TableLayout> tables_;
  int tableCounter_ = -1;
  std::vector<HotArea> hotAreas_;
  std::vector<Animation> animations_;
  std::vector<Animation> previousAnimations_;
  CPPDrawManager drawManager_;  // frames carried across a new measuring pass
  int animationCounter_ = -1;

  int shadowDx_ = 4, shadowDy_ = 4, shadowDarkness_ = 50, shadowBlurX_ = 7, shadowBlurY_ = 7;
  bool shadowSoft_ = true;
  ColorRef shadowColor_ = 0x7F7F7F;
  QImage imageList_;
  int imageListCx_ = 0, imageListCy_ = 0;
  std::vector<QImage> handles_;
  std::unique_ptr<ResourceModule> ownedInstance_;
  const ResourceModule* instance_ = nullptr;
  QCursor linkCursor_{Qt::PointingHandCursor};

  std::function<void(int)> hoverCallback_;
  std::function<long(const std::u16string&)> linkCallback_;
  std::function<bool(const std::u16string&)> urlOpener_;
};

}  // namespace qm
