#include "app/filter_dialog.h"

#include <QPaintEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <cstring>

#include "state/app_state.h"
#include "app/page_base.h"
#include "engines/recovery_filter.h"
#include "platform/prompt.h"

namespace qm {

namespace {

// The dialog's layout unit: its font's average character is 6 x 13 pixels.
int DluX(int x) { return x * 3 / 2; }
int DluY(int y) { return y * 13 / 8; }
QRect DluRect(int x, int y, int w, int h) { return QRect(DluX(x), DluY(y), DluX(w), DluY(h)); }

constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2030;
constexpr int kDefaultToYear = kLastYear - kFirstYear;  // index of 2030
constexpr int kDefaultToMonth = 11;                     // December
constexpr int kDefaultToDay = 30;                       // the 31st
// Characters of the edit box that are read; more are never looked at.
constexpr int kEditReadChars = 39;
constexpr int kMaxExtensionChars = 4;

void CopySix(int32_t* to, const int32_t* from) { std::copy(from, from + 6, to); }

bool ListHolds(const QListWidget& list, const QString& text) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text() == text) return true;
  }
  return false;
}

void StoreExtension(char16_t slot[kExtensionChars], const QString& text) {
  std::fill(slot, slot + kExtensionChars, u'\0');
  const std::u16string s = text.toStdU16String();
  std::copy_n(s.begin(), std::min<size_t>(s.size(), kExtensionChars - 1), slot);
}

// Removes the first entry equal to text from slots [0, *count); true when found.
bool RemoveFromSlots(char16_t table[][kExtensionChars], int32_t* count, const std::u16string& text) {
  for (int i = 0; i < *count; ++i) {
    if (std::u16string(table[i]) != text) continue;
    for (int j = i; j + 1 < *count; ++j) std::memcpy(table[j], table[j + 1], sizeof(table[j]));
    std::fill(table[*count - 1], table[*count - 1] + kExtensionChars, u'\0');
    --*count;
    return true;
  }
  return false;
}

}  // namespace

int32_t* DateSelectionsOf(int kind) {
  switch (kind) {
    case kModifiedDate: return g_AppState.modifiedDateSelection;
    case kCreatedDate: return g_AppState.createdDateSelection;
    case kAccessedDate: return g_AppState.accessedDateSelection;
    default: return nullptr;
  }
}

int32_t* DateRangeOf(int kind) {
  switch (kind) {
    case kModifiedDate: return g_AppState.modifiedDateRange;
    case kCreatedDate: return g_AppState.createdDateRange;
    case kAccessedDate: return g_AppState.accessedDateRange;
    default: return nullptr;
  }
}

std::array<int32_t, 6> RangeFromSelections(const int32_t s[6]) {
  const bool defaults = s[kSelToYear] == kDefaultToYear && s[kSelToMonth] == kDefaultToMonth &&
                        s[kSelToDay] == kDefaultToDay && s[kSelFromYear] == 0 && s[kSelFromMonth] == 0 &&
                        s[kSelFromDay] == 0;
  if (defaults) return {};
  std::array<int32_t, 6> r{};
  r[kFromDay] = s[kSelFromDay] + 1;
  r[kFromMonth] = s[kSelFromMonth] + 1;
  r[kFromYear] = s[kSelFromYear] + kFirstYear;
  r[kToDay] = s[kSelToDay] + 1;
  r[kToMonth] = s[kSelToMonth] + 1;
  r[kToYear] = s[kSelToYear] + kFirstYear;
  return r;
}

DataSavingSettings::DataSavingSettings(QWidget* parent)
    : QDialog(parent),
      topBar_(this),
      dateBar_(this),
      outerFrame_(this),
      dateFrame_(this),
      hLine_(this),
      vLine_(this),
      kind_(this),
      include_(QStringLiteral("Include Deleted Data Files"), this),
      only_(QStringLiteral("Recover Deleted Data Files Only"), this),
      exclude_(QStringLiteral("Exclude  Deleted Data Files"), this),
      fromYear_(this),
      fromMonth_(this),
      fromDay_(this),
      toYear_(this),
      toMonth_(this),
      toDay_(this),
      apply_(QStringLiteral("&Apply"), this),
      remove_(QStringLiteral("<<"), this),
      edit_(this),
      list_(this),
      deletedHeading_(QStringLiteral("Deleted Data"), this),
      extensionHeading_(QStringLiteral("Add Extensions (Ex. XLS etc...)"), this),
      add_(QStringLiteral("&>>"), this),
      cancel_(QStringLiteral("Cancel"), this),
      dateHeading_(QStringLiteral("Date Range Selection"), this),
      dayCaption_(QStringLiteral("Day"), this),
      monthCaption_(QStringLiteral("Month"), this),
      yearCaption_(QStringLiteral("Year"), this),
      betweenCaption_(QStringLiteral("Between "), this) {
  // Each opening starts without an extension filter.
  g_AppState.extensionCount = 0;
  OnInitDialog();
}

DataSavingSettings::~DataSavingSettings() = default;

int DataSavingSettings::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void DataSavingSettings::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  ApplyWhiteLook(this);
  LayOut();

  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  apply_.LoadThreeStateBitmap(images + QStringLiteral("/apply.bmp"));
  cancel_.LoadThreeStateBitmap(images + QStringLiteral("/cancel.bmp"));
  apply_.setDefault(true);

  kind_.addItems({QStringLiteral("Modified Date"), QStringLiteral("Created Date"), QStringLiteral("Accessed Date")});
  for (QComboBox* days : {&fromDay_, &toDay_}) {
    for (int d = 1; d <= 31; ++d) days->addItem(QStringLiteral("%1").arg(d, 2, 10, QLatin1Char('0')));
  }
  for (QComboBox* months : {&fromMonth_, &toMonth_}) {
    for (int m = 1; m <= 12; ++m) months->addItem(QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')));
  }
  for (QComboBox* years : {&fromYear_, &toYear_}) {
    for (int y = kFirstYear; y <= kLastYear; ++y) years->addItem(QString::number(y));
  }

  include_.setChecked(g_AppState.deletedFilter == 0);
  exclude_.setChecked(g_AppState.deletedFilter == 1);
  only_.setChecked(g_AppState.deletedFilter == 2);
  connect(&include_, &QRadioButton::clicked, this, [this] { OnDeletedOption(0); });
  connect(&exclude_, &QRadioButton::clicked, this, [this] { OnDeletedOption(1); });
  connect(&only_, &QRadioButton::clicked, this, [this] { OnDeletedOption(2); });

  pendingCount_ = 0;
  list_.clear();

  // A kind whose to-selections are still zero shows the whole span. Only a
  // kind without a range in force: a range ending on the first entry
  // (01, 01 or 1970) is stored as index 0 too and must show as chosen.
  for (int kind = kModifiedDate; kind <= kAccessedDate; ++kind) {
    int32_t* s = DateSelectionsOf(kind);
    const int32_t* r = DateRangeOf(kind);
    if (std::any_of(r, r + 6, [](int32_t v) { return v != 0; })) continue;
    if (s[kSelToYear] == 0) s[kSelToYear] = kDefaultToYear;
    if (s[kSelToMonth] == 0) s[kSelToMonth] = kDefaultToMonth;
    if (s[kSelToDay] == 0) s[kSelToDay] = kDefaultToDay;
  }

  if (kind_.currentIndex() < 0) kind_.setCurrentIndex(kModifiedDate);
  ShowKindSelections(kind_.currentIndex());

  connect(&kind_, &QComboBox::activated, this, [this] { OnKindChanged(); });
  for (QComboBox* box : {&fromDay_, &fromMonth_, &fromYear_, &toDay_, &toMonth_, &toYear_}) {
    connect(box, &QComboBox::activated, this, [this] { OnDateChanged(); });
  }
  connect(&add_, &QPushButton::clicked, this, [this] { OnAddExtension(); });
  connect(&remove_, &QPushButton::clicked, this, [this] { OnRemoveExtension(); });
  connect(&apply_, &QPushButton::clicked, this, [this] { accept(); });
  connect(&cancel_, &QPushButton::clicked, this, [this] { reject(); });

  for (int kind = kModifiedDate; kind <= kAccessedDate; ++kind) {
    CopySix(savedSelections_[kind], DateSelectionsOf(kind));
    CopySix(savedRanges_[kind], DateRangeOf(kind));
  }
  savedDeletedFilter_ = g_AppState.deletedFilter;
  savedCheckScope_ = g_AppState.checkScope;
  savedFatCopySource_ = g_AppState.fatCopySource;
}

void DataSavingSettings::LayOut() {
  setFixedSize(DluX(398), DluY(184));
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  for (QFrame* bar : {&topBar_, &dateBar_}) {
    bar->setPalette(black);
    bar->setAutoFillBackground(true);
  }
  topBar_.setGeometry(DluRect(6, 10, 318, 21));
  dateBar_.setGeometry(DluRect(6, 86, 318, 19));
  outerFrame_.setFrameShape(QFrame::Box);
  outerFrame_.setGeometry(DluRect(6, 6, 318, 173));
  dateFrame_.setFrameShape(QFrame::Box);
  dateFrame_.setGeometry(DluRect(13, 106, 304, 66));
  hLine_.setFrameShape(QFrame::HLine);
  hLine_.setGeometry(DluRect(6, 31, 318, 1));
  vLine_.setFrameShape(QFrame::VLine);
  vLine_.setGeometry(DluRect(161, 31, 1, 55));

  QPalette white = palette();
  white.setColor(QPalette::WindowText, Qt::white);
  for (CTransparentStatic* heading : {&deletedHeading_, &extensionHeading_, &dateHeading_}) {
    heading->setPalette(white);
    QFont f = heading->font();
    f.setBold(true);
    heading->setFont(f);
  }
  deletedHeading_.setGeometry(DluRect(15, 15, 107, 14));
  extensionHeading_.setGeometry(DluRect(164, 15, 156, 14));
  dateHeading_.setGeometry(DluRect(15, 90, 130, 14));

  include_.setGeometry(DluRect(14, 45, 127, 10));
  exclude_.setGeometry(DluRect(13, 57, 127, 10));
  only_.setGeometry(DluRect(13, 69, 147, 10));
  edit_.setGeometry(DluRect(175, 37, 94, 12));
  list_.setGeometry(DluRect(175, 50, 94, 32));
  add_.setGeometry(DluRect(283, 42, 21, 16));
  remove_.setGeometry(DluRect(283, 61, 21, 16));
  kind_.setGeometry(DluRect(28, 133, 97, 12));
  dayCaption_.setGeometry(DluRect(158, 112, 30, 10));
  monthCaption_.setGeometry(DluRect(201, 112, 30, 10));
  yearCaption_.setGeometry(DluRect(247, 112, 30, 10));
  fromDay_.setGeometry(DluRect(153, 123, 38, 12));
  fromMonth_.setGeometry(DluRect(197, 123, 38, 12));
  fromYear_.setGeometry(DluRect(242, 123, 50, 12));
  betweenCaption_.setGeometry(DluRect(200, 140, 39, 10));
  toDay_.setGeometry(DluRect(153, 154, 38, 12));
  toMonth_.setGeometry(DluRect(197, 154, 38, 12));
  toYear_.setGeometry(DluRect(242, 154, 50, 12));
  apply_.move(DluX(329), DluY(65));
  cancel_.move(DluX(329), DluY(99));
  for (CHoverButton* b : {&apply_, &cancel_}) {
    if (!b->HasStrip()) b->resize(DluX(57), DluY(16));
  }
}

void DataSavingSettings::ShowKindSelections(int kind) {
  const int32_t* s = DateSelectionsOf(kind);
  if (!s) return;
  auto set = [](QComboBox& box, int32_t index) {
    const QSignalBlocker block(box);
    box.setCurrentIndex(std::clamp<int>(index, 0, box.count() - 1));
  };
  set(toDay_, s[kSelToDay]);
  set(toMonth_, s[kSelToMonth]);
  set(toYear_, s[kSelToYear]);
  set(fromDay_, s[kSelFromDay]);
  set(fromMonth_, s[kSelFromMonth]);
  set(fromYear_, s[kSelFromYear]);
}

void DataSavingSettings::OnDeletedOption(int option) { g_AppState.deletedFilter = option; }

void DataSavingSettings::OnKindChanged() { ShowKindSelections(kind_.currentIndex()); }

void DataSavingSettings::OnDateChanged() {
  const int kind = kind_.currentIndex();
  int32_t* s = DateSelectionsOf(kind);
  if (!s) return;
  s[kSelToDay] = toDay_.currentIndex();
  s[kSelToMonth] = toMonth_.currentIndex();
  s[kSelToYear] = toYear_.currentIndex();
  s[kSelFromDay] = fromDay_.currentIndex();
  s[kSelFromMonth] = fromMonth_.currentIndex();
  s[kSelFromYear] = fromYear_.currentIndex();
  const std::array<int32_t, 6> range = RangeFromSelections(s);
  std::copy(range.begin(), range.end(), DateRangeOf(kind));
}

void DataSavingSettings::OnAddExtension() {
  if (list_.count() >= kExtensionSlots) {
    ShowMessage(kTooManyExtensionsText);
    return;
  }
  const QString text = edit_.text().left(kEditReadChars);
  if (text.size() > kMaxExtensionChars) {
    ShowMessage(kExtensionTooLongText);
    return;
  }
  if (!text.isEmpty() && text.front() == QLatin1Char(' ')) {
    ShowMessage(kExtensionBlankText);
    return;
  }
  if (text.isEmpty()) return;
  if (text.contains(QLatin1Char('.'))) {
    ShowMessage(kExtensionDotText);
    return;
  }
  if (text.contains(QLatin1Char('*'))) {
    ShowMessage(kExtensionStarText);
    return;
  }
  if (ListHolds(list_, text)) {
    ShowMessage(kExtensionExistsText);
    return;
  }
  list_.insertItem(0, text);
  if (g_AppState.extensionCount == 0) {
    StoreExtension(g_AppState.extensionFilter[0], text);
    g_AppState.extensionCount = 1;
  } else {
    StoreExtension(g_AppState.pendingExtensions[pendingCount_], text);
    ++pendingCount_;
  }
  edit_.clear();
  edit_.setFocus();
  if (list_.count() > 0) {
    remove_.EnableButton(&remove_, 1);
    list_.setCurrentRow(0);
  }
}

void DataSavingSettings::OnRemoveExtension() {
  if (list_.count() == 0) {
    remove_.EnableButton(&remove_, 0);
    return;
  }
  const int row = list_.currentRow();
  if (row < 0) return;  // nothing chosen: nothing to remove
  const std::u16string text = list_.item(row)->text().toStdU16String();
  delete list_.takeItem(row);
  if (list_.count() > 0) list_.setCurrentRow(0);
  if (!RemoveFromSlots(g_AppState.extensionFilter, &g_AppState.extensionCount, text)) {
    int32_t pending = pendingCount_;
    RemoveFromSlots(g_AppState.pendingExtensions, &pending, text);
    pendingCount_ = pending;
  }
}

bool DataSavingSettings::AnyRangeBackwards() const {
  for (int kind = kModifiedDate; kind <= kAccessedDate; ++kind) {
    const int32_t* r = DateRangeOf(kind);
    if (r[kToYear] == 0) continue;  // no range on this date
    if (DateKey(r[kFromYear], r[kFromMonth], r[kFromDay]) > DateKey(r[kToYear], r[kToMonth], r[kToDay])) return true;
  }
  return false;
}

void DataSavingSettings::accept() {
  // A range whose start lies after its end would take no file, or none of
  // the filter at all: it is not left in force.
  if (AnyRangeBackwards()) {
    ShowMessage(kDateRangeBackwardsText);
    return;
  }
  for (int i = 0; i < pendingCount_ && g_AppState.extensionCount < kExtensionSlots; ++i) {
    std::memcpy(g_AppState.extensionFilter[g_AppState.extensionCount], g_AppState.pendingExtensions[i],
                sizeof(g_AppState.extensionFilter[0]));
    ++g_AppState.extensionCount;
  }
  pendingCount_ = 0;
  QDialog::accept();
}

void DataSavingSettings::reject() {
  for (int i = 0; i < g_AppState.extensionCount && i < kExtensionSlots; ++i) g_AppState.extensionFilter[i][0] = 0;
  g_AppState.extensionCount = 0;
  g_AppState.deletedFilter = savedDeletedFilter_;
  g_AppState.checkScope = savedCheckScope_;
  g_AppState.fatCopySource = savedFatCopySource_;
  for (int kind = kModifiedDate; kind <= kAccessedDate; ++kind) {
    CopySix(DateSelectionsOf(kind), savedSelections_[kind]);
    CopySix(DateRangeOf(kind), savedRanges_[kind]);
  }
  pendingCount_ = 0;
  QDialog::reject();
}

void DataSavingSettings::paintEvent(QPaintEvent* event) {
  FollowProgramTitle(this);
  QDialog::paintEvent(event);
}

}  // namespace qm
