// The look of the scan page: its controls, their places, fonts, skins and
// the texts that describe the job.
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

#include <cstdio>

#include "controls/qt_text.h"
#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/scan_page.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "diskio/sector_io.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr char kHeadingText[] = "Morva analysing. Please wait...";
constexpr char kHintText[] = "Selecting Hide Details will speedup data recovery analysis...";
constexpr char kPageFontFace[] = "MS Sans Sarif";
constexpr int kPageFontPoints = 12;
constexpr int kBoldTextPixels = 12;  // heading text and status line
constexpr int kJobLabelPoints = 8;
constexpr int kCaptionPoints = 9;

// Rows of the statistics below the base line, in row pitches of 40
// pixels (halves: 60 is one and a half); a page too low for them shortens
// the pitch.
constexpr int kRowPitch = 40;
constexpr int kMinRowPitch = 24;
constexpr int kRowHalfPitches[] = {3, 5, 7, 9, 11};
// Half pitches from the base to the details button's top: nine to the file
// row, five more to the progress bar and four to the button.
constexpr int kFileRowHalfPitches = 9;
constexpr int kBarHalfPitches = 5;
constexpr int kDetailsHalfPitches = 4;
constexpr int kDetailsHeight = 40;
constexpr int kNameHeight = 40;  // the last name wraps to two lines
constexpr int kNameToBar = 4;
constexpr int kMinJobStep = 16;
// The frame starts at least this far below the toolbar's lower rule.
constexpr int kFrameBelowRule = 6;
constexpr int kValueColumn = 160;
constexpr int kLargeValueColumn = 300;
constexpr int kRightColumnInset = 143;
constexpr int kNarrowClient = 1000;
constexpr QSize kPauseSize(87, 26);
constexpr int kStopBelowPause = 40;
constexpr int kPhaseTextMinHeight = 60;
constexpr int kSideBySideGap = 24;  // room for the skin, which is wider than the place
constexpr int kSkinRoom = 4;  // a skinned button is a little taller than its place
// The details button: as tall as its row, wide enough for its text.
constexpr int kDetailsWidth = 150;
// Room kept between the frame and the rules above the bottom row.
constexpr int kFrameBottomGap = 5;

}  // namespace

std::map<int, QRect> ComputeScanLayout(const ScanLayoutInput& in) {
  std::map<int, QRect> r;
  const bool large = in.large;
  const int L = in.window.x(), T = in.window.y();
  const int R = L + in.window.width(), B = T + in.window.height();
  const int w = (R - L) / 10;
  const int h = (B - T) / 35;
  const int CR = in.client.width(), CB = in.client.height();
  const QRect save = in.toolbarButton;
  const int toolbarHeight = save.height();

  // Bottom row.
  const int bottomY = B - 2 * T - 2 * h - 10;
  const QRect back(R - 2 * w - 40 - L, bottomY, w, h);
  r[kScanBackButton] = back;
  r[kScanNextButton] = QRect(back.right() + 1 + 10, bottomY, w, h);
  const int phaseLeft = L / 10 + w + 10;
  // Three lines at least: the imaging text wraps to three in the page font.
  r[kScanPhaseText] =
      QRect(phaseLeft, bottomY, std::max(0, back.x() - 40 - phaseLeft), std::max(2 * h + 10, kPhaseTextMinHeight));
  r[kScanStepPicture] = QRect(save.x() + 15, bottomY - 5, 20, 20);
  r[kScanBottomRule1] = QRect(0, bottomY - 20, CR, 2);
  r[kScanBottomRule2] = QRect(0, bottomY - 20, CR, 2);

  // Toolbar rules and the placeholder beside it.
  r[kScanToolbarRule2] = QRect(0, save.y() + static_cast<int>((toolbarHeight + 14) * in.vFactor), CR, 2);
  r[kScanPlaceholder] = QRect(CR - CR / 7 - 200, save.y() - 4, 10, 10);

  // The frame, kept clear of the rules above the bottom row and below the toolbar's.
  const int frameX = CR / 7;
  const int frameY = std::max(CB / 7, r[kScanToolbarRule2].bottom() + 1 + kFrameBelowRule);
  const int frameW = CR - 2 * (CR / 7);
  int frameH = CB - 2 * (CB / 7) + 20;
  frameH = std::max(0, std::min(frameH, bottomY - 20 - kFrameBottomGap - frameY));
  r[kScanFrame] = QRect(frameX, frameY, frameW, frameH);
  r[kScanHeadingBar] = QRect(frameX, frameY + (large ? 18 : 6), frameW, large ? 40 : 30);
  r[kScanHeadingText] = QRect(frameX + 10, frameY + (large ? 22 : 13), frameW - 20, large ? 32 : 20);

  // Statistics rows.
  const int base = toolbarHeight + frameY;
  // The row pitch: 40 pixels, less on a page too low for the rows, the bar
  // and the details button above the frame's bottom.
  // The bar sits below the file row and, on a short pitch, lower still to
  // clear a two-line name.
  auto barOffset = [](int p) {
    const int afterFiles = (kFileRowHalfPitches + kBarHalfPitches) * p / 2;
    const int afterName = kRowHalfPitches[4] * p / 2 + kNameHeight + kNameToBar;
    return std::max(afterFiles, afterName);
  };
  int pitch = kRowPitch;
  if (!large) {
    const int room = frameY + frameH - kFrameBottomGap - base;
    while (pitch > kMinRowPitch && barOffset(pitch) + kDetailsHalfPitches * pitch / 2 + kDetailsHeight > room) --pitch;
  }
  auto at = [pitch](int halves) { return halves * pitch / 2; };
  const int rowOffsets[] = {at(kRowHalfPitches[0]), at(kRowHalfPitches[1]), at(kRowHalfPitches[2]),
                            at(kRowHalfPitches[3]), at(kRowHalfPitches[4])};
  const int statusX = frameX + frameW / 8 + 10;
  // The large screen's wider status line still ends inside the frame.
  const int statusW = large ? std::min(frameW * 5 / 4, frameX + frameW - 10 - statusX) : frameW * 3 / 4;
  r[kScanStatusLine] = QRect(statusX, large ? base : base + at(1), statusW, large ? 50 : 40);
  const int captionX = frameX + toolbarHeight / 2;
  const int valueX = captionX + (large ? kLargeValueColumn : kValueColumn);
  const int rowHeight = large ? 32 : 20;
  const int rowY[] = {base + rowOffsets[0], base + rowOffsets[1], base + rowOffsets[2],
                      in.diskImage ? -1 : base + rowOffsets[3], base + rowOffsets[in.diskImage ? 3 : 4]};
  const int captions[] = {kScanElapsedCaption, kScanFirstCaption, kScanSecondCaption, kScanThirdCaption,
                          kScanNameCaption};
  const int values[] = {kScanElapsedValue, kScanFirstValue, kScanSecondValue, kScanThirdValue, kScanNameValue};
  const int valueWidths[] = {120, large ? 290 : 174, 145, 145, 448};
  // Right-hand column: the job texts, then Pause and Stop below them, clear
  // of the figures, which grow to the right with large numbers.
  int rightX = frameX + frameW - toolbarHeight / 2 - CR / 7 - kRightColumnInset;
  // On a narrow page the column moves right as far as the widest figure of
  // the second row needs, Pause and Stop still inside the frame.
  const bool sideBySide = CR <= kNarrowClient && !large;
  if (sideBySide && in.secondRowWidth > 0) {
    const int buttonsWidth = kPauseSize.width() + kSideBySideGap + std::max(kPauseSize.width(), in.buttonWidth);
    rightX = std::max(rightX, std::min(valueX + in.secondRowWidth + 10, frameX + frameW - 10 - buttonsWidth));
  }
  const int jobHeight = large ? 32 : 26;
  const int pauseY = base + (large ? rowOffsets[3] : rowOffsets[2]);
  // On a narrow page Stop goes beside Pause, leaving the rows below free for the figures.
  const QPoint stopAt = sideBySide ? QPoint(rightX + kPauseSize.width() + kSideBySideGap, pauseY)
                                   : QPoint(rightX, pauseY + kStopBelowPause);
  const int stopBottom = stopAt.y() + kPauseSize.height() + kSkinRoom;
  for (int i = 0; i < 5; ++i) {
    if (rowY[i] < 0) continue;  // imaging has no file count
    const int captionWidth = i == 1 && large ? 260 : 220;
    r[captions[i]] = QRect(captionX, rowY[i], captionWidth, rowHeight);
    // A figure beside the buttons ends before them.
    const int height = i == 4 ? kNameHeight : rowHeight;
    int width = i == 1 ? std::max(valueWidths[i], in.secondRowWidth) : valueWidths[i];
    if (rowY[i] < stopBottom && rowY[i] + height > base + rowOffsets[0]) width = std::min(width, rightX - 10 - valueX);
    r[values[i]] = QRect(valueX, rowY[i], std::max(0, width), height);
  }

  // The job texts half a row apart, at least a line of their text apart on
  // a low page, where they are only as high as that line.
  const int jobStep = std::max(pitch / 2, kMinJobStep);
  const int jobH = pitch >= kRowPitch ? jobHeight : jobStep;
  r[kScanModeLabel] = QRect(rightX, base + rowOffsets[0], large ? 450 : 300, large ? jobHeight : jobH);
  r[kScanDeviceLabel] = QRect(rightX, large ? base + rowOffsets[1] : base + rowOffsets[0] + jobStep,
                              large ? 450 : 150, large ? jobHeight : jobH);
  r[kScanCapacityLabel] = QRect(rightX, large ? base + rowOffsets[2] : base + rowOffsets[0] + 2 * jobStep,
                                large ? 450 : 150, large ? jobHeight : jobH);
  const int pauseX = rightX;
  r[kScanPauseButton] = QRect(QPoint(pauseX, pauseY), kPauseSize);
  r[kScanStopButton] = QRect(stopAt, kPauseSize);

  // Below the rows: sector line, progress bar, bar, hint and the details button.
  const int F = in.diskImage ? base + rowOffsets[2] : base + rowOffsets[3];
  r[kScanSectorLine] =
      QRect(frameX + frameW / 8 + 50, F + (large ? 140 : at(4)), large ? 2 * frameW : frameW / 2, large ? 32 : 14);
  const int nameY = base + rowOffsets[in.diskImage ? 3 : 4];
  const int P = large ? F + 240 : std::max(F + at(kBarHalfPitches), nameY + kNameHeight + kNameToBar);
  r[kScanProgressBar] = QRect(frameX + frameW / 8, P, frameW * 3 / 4, large ? 25 : 18);
  r[kScanBottomBar] = QRect(frameX, P + (large ? 200 : at(2)), frameW, large ? 30 : 15);
  const int hintInset = CR > kNarrowClient || large ? 90 : 50;
  const int hintX = frameX - hintInset;
  r[kScanHintLabel] =
      QRect(hintX, P + (large ? 283 : at(4) + 3), std::max(0, std::min(frameW - 200, pauseX - 10 - hintX)), 40);
  r[kScanDetailsButton] = QRect(pauseX, P + (large ? 280 : at(kDetailsHalfPitches)), kDetailsWidth, kDetailsHeight);
  return r;
}

void RecoveryAnalysis::BuildControls() {
  auto rule = [this](int id) {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layoutControls_[id] = line;
  };
  auto blackBar = [this](int id) {
    auto* bar = new QFrame(this);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, Qt::black);
    bar->setPalette(pal);
    bar->setAutoFillBackground(true);
    layoutControls_[id] = bar;
  };
  auto place = [this](int id, QWidget* w, bool workerAddressed) {
    layoutControls_[id] = w;
    if (workerAddressed) RegisterControl(id, w);
  };

  // The frame first, so everything else paints over it.
  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::Box);
  frame->setFrameShadow(QFrame::Sunken);
  layoutControls_[kScanFrame] = frame;
  blackBar(kScanHeadingBar);
  blackBar(kScanBottomBar);
  rule(kScanToolbarRule2);
  rule(kScanBottomRule1);
  rule(kScanBottomRule2);
  place(kScanPlaceholder, new QLabel(this), false);

  phaseText = new CTransparentStatic(this);
  phaseText->setWordWrap(true);
  phaseText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(kScanPhaseText, phaseText, true);
  stepPicture = new QLabel(this);
  place(kScanStepPicture, stepPicture, false);

  backButton = new CHoverButton(QStringLiteral("< &Back"), this);
  nextButton = new CHoverButton(QStringLiteral("&Next >"), this);
  stopButton = new CHoverButton(QStringLiteral("&Stop"), this);
  pauseButton = new CHoverButton(QStringLiteral("&Pause"), this);
  detailsButton = new QPushButton(QStringLiteral("&Hide Details"), this);
  for (QPushButton* b : {static_cast<QPushButton*>(backButton), static_cast<QPushButton*>(nextButton),
                         static_cast<QPushButton*>(stopButton), static_cast<QPushButton*>(pauseButton),
                         detailsButton})
    b->setAutoDefault(false);
  place(kScanBackButton, backButton, false);
  place(kScanNextButton, nextButton, false);
  place(kScanStopButton, stopButton, false);
  place(kScanPauseButton, pauseButton, false);
  place(kScanDetailsButton, detailsButton, false);

  hintLabel = new CLabel(this);
  place(kScanHintLabel, hintLabel, false);
  headingText = new CTransparentStatic(QString::fromLatin1(kHeadingText), this);
  place(kScanHeadingText, headingText, false);
  statusLine = new CTransparentStatic(this);
  statusLine->setWordWrap(true);
  place(kScanStatusLine, statusLine, true);
  progressBar = new CGradientProgressCtrl(this);
  place(kScanProgressBar, progressBar, true);

  elapsedCaption = new CLabel(QStringLiteral("Time Elapsed"), this);
  firstCaption = new CLabel(QStringLiteral("Total Size"), this);
  secondCaption = new CLabel(QStringLiteral("Folders Found"), this);
  thirdCaption = new CLabel(QStringLiteral("Files Found"), this);
  nameCaption = new CLabel(QStringLiteral("Last Name"), this);
  place(kScanElapsedCaption, elapsedCaption, false);
  place(kScanFirstCaption, firstCaption, true);
  place(kScanSecondCaption, secondCaption, true);
  place(kScanThirdCaption, thirdCaption, true);
  place(kScanNameCaption, nameCaption, false);

  elapsedValue = new CTransparentStatic(this);
  firstValue = new CTransparentStatic(this);
  secondValue = new CTransparentStatic(this);
  thirdValue = new CTransparentStatic(this);
  nameValue = new CTransparentStatic(this);
  nameValue->setWordWrap(true);
  nameValue->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(kScanElapsedValue, elapsedValue, true);
  place(kScanFirstValue, firstValue, true);
  place(kScanSecondValue, secondValue, true);
  place(kScanThirdValue, thirdValue, true);
  place(kScanNameValue, nameValue, true);
  sectorLine = new CTransparentStatic(this);
  place(kScanSectorLine, sectorLine, true);

  modeLabel = new CLabel(this);
  deviceLabel = new CLabel(this);
  capacityLabel = new CLabel(this);
  place(kScanModeLabel, modeLabel, false);
  place(kScanDeviceLabel, deviceLabel, false);
  place(kScanCapacityLabel, capacityLabel, false);
}

void RecoveryAnalysis::SetUpScanPage() {
  QScreen* screen = QGuiApplication::primaryScreen();
  const double dpiY = screen ? screen->logicalDotsPerInchY() : 96.0;
  QFont pageFont(QString::fromLatin1(kPageFontFace));
  pageFont.setPixelSize(std::max(1, static_cast<int>(kPageFontPoints * dpiY / 72.0 + 0.5)));
  pageFont.setWeight(QFont::Normal);
  pageFont.setStyleStrategy(QFont::PreferOutline);
  setFont(pageFont);
  // The page font is the controls'; the menu bar keeps the one every page's
  // menu bar has.
  QFont menuFont = QApplication::font(MenuBar());
  menuFont.setResolveMask(QFont::AllPropertiesResolved);
  MenuBar()->setFont(menuFont);

  QFont bold(QStringLiteral("Arial"));
  bold.setPixelSize(kBoldTextPixels);
  bold.setBold(true);
  headingText->setFont(bold);
  statusLine->setFont(bold);
  QPalette white = headingText->palette();
  white.setColor(QPalette::WindowText, Qt::white);
  headingText->setPalette(white);

  const double vf = VFactor();
  auto arial = [vf](CLabel* l, int points) {
    l->SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(points, vf)).SetFontBold(true);
    l->SetTransparent(true);
  };
  for (CLabel* l : {modeLabel, deviceLabel, capacityLabel}) arial(l, kJobLabelPoints);
  for (CLabel* l : {firstCaption, elapsedCaption, secondCaption, thirdCaption, nameCaption, hintLabel})
    arial(l, kCaptionPoints);
  for (CLabel* l : {modeLabel, deviceLabel, capacityLabel, firstCaption, elapsedCaption, secondCaption,
                    thirdCaption, nameCaption, hintLabel})
    l->SetTemplateStyle(kSsLeftNoWordWrap);
  sectorLine->hide();

  progressBar->SetTextColor(Qt::black);
  progressBar->ShowPercent(true);

  setWindowTitle(Q(g_AppState.windowTitle));
  LayOut();
  hintLabel->SetText(QString::fromLatin1(kHintText));
  SetPauseText(false);
  detailsButton->setText(QStringLiteral("&Hide Details"));
  SetJobTexts();

  // The toolbar: only Help (and the hidden Buy) can be used while a job runs.
  struct Tool {
    ToolbarSlot slot;
    const char* tip;
    bool enabled;
  };
  const Tool tools[] = {{kToolLoadLog, "LoadLog", false}, {kToolSaveLog, "SaveLog", false},
                        {kToolSettings, "Settings", false}, {kToolSearch, "Search", false},
                        {kToolBuy, "Buy", true},           {kToolHelp, "Help", true}};
  for (const Tool& t : tools) {
    CHoverButton* b = ToolbarButton(t.slot);
    b->SetToolTipText(QString::fromLatin1(t.tip), false);
    b->EnableButton(b, t.enabled ? 1 : 0);
  }
  ToolbarButton(kToolBuy)->hide();

  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  nextButton->LoadFourStateBitmap(images + QStringLiteral("/Next-btn.bmp"));
  backButton->LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  stopButton->LoadFourStateBitmap(images + QStringLiteral("/Stop-btn.bmp"));
  // Pause wears the same skin as Stop beside it.
  pauseButton->LoadFourStateBitmap(images + QStringLiteral("/Pause-btn.bmp"));
  // Again with the skins' sizes: the buttons keep their places, the column
  // beside them makes room for them.
  LayOut();
  nextButton->EnableButton(nextButton, 0);
}

void RecoveryAnalysis::LayOut() {
  if (layoutControls_.empty()) return;
  ScanLayoutInput in;
  in.window = QRect(Geometry().window.topLeft(), size());
  in.client = size();
  in.toolbarButton = ToolbarButton(kToolSaveLog)->geometry();
  in.large = Geometry().large;
  in.vFactor = VFactor();
  in.diskImage = g_AppState.diskImageMode != 0;
  // The sector figure "current/end" is at its widest with the end twice.
  const QString end = QString::number(g_RangeEndSector);
  in.secondRowWidth = QFontMetrics(firstValue->font()).horizontalAdvance(end + QLatin1Char('/') + end) + 8;
  in.buttonWidth = pauseButton->width();
  const std::map<int, QRect> places = ComputeScanLayout(in);
  for (const auto& [id, widget] : layoutControls_) {
    auto it = places.find(id);
    if (it == places.end()) continue;
    // Skinned buttons keep the size of their frame once loaded.
    auto* hover = qobject_cast<CHoverButton*>(widget);
    if (hover && hover->HasStrip()) hover->move(it->second.topLeft());
    else widget->setGeometry(it->second);
  }
}

void RecoveryAnalysis::SetJobTexts() {
  static const char16_t* const kModeNames[] = {u"Deleted Data Recovery", u"Formatted Data Recovery",
                                               u"Partition Data Recovery", u"Raw Data Recovery",
                                               u"Create Disk Image"};
  std::u16string mode = u"Mode     :  ";
  if (g_AppState.recoveryMode >= 1 && g_AppState.recoveryMode <= 5) mode += kModeNames[g_AppState.recoveryMode - 1];
  modeLabel->SetText(Q(mode));

  QString device = QStringLiteral("Device   :  ");
  if (g_VirtualDiskSource) {
    device += QStringLiteral("Virtual Disk");
  } else if (g_SelectedDiskIndex >= 0 && g_SelectedDiskIndex < 10) {
    const char* path = g_DevicePathTable[g_SelectedDiskIndex];
    device += QString::fromLocal8Bit(path, static_cast<qsizetype>(strnlen(path, sizeof g_DevicePathTable[0])));
  }
  deviceLabel->SetText(device);

  // An end before the start is an empty range, not a wrapped giant one.
  const uint64_t sectors = g_RangeEndSector > g_RangeFirstSector ? g_RangeEndSector - g_RangeFirstSector : 0;
  const double bytes = static_cast<double>(sectors) * static_cast<double>(std::max(0, g_BytesPerSector));
  capacityLabel->SetText(Q(u"Capacity :  " + SizeText1(bytes)));
}

}  // namespace qm
