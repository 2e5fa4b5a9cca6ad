#include "controls/resources.h"

#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QResource>

#include <atomic>

#include "platform/resource_file.h"

// Outside any namespace, as the resource initialiser requires.
static void InitProgramResources() { Q_INIT_RESOURCE(quillmoren); }

namespace qm {

namespace {

// Strings of a module are untrusted: anything longer is no string resource.
constexpr qint64 kMaxStringBytes = 1 << 20;

}  // namespace

ResourceModule::ResourceModule(QString root, QString file, QString mapRoot, QByteArray bytes)
    : root_(std::move(root)), file_(std::move(file)), mapRoot_(std::move(mapRoot)), bytes_(std::move(bytes)) {}

ResourceModule::~ResourceModule() {
  if (!bytes_.isEmpty()) QResource::unregisterResource(reinterpret_cast<const uchar*>(bytes_.constData()), mapRoot_);
}

const ResourceModule& ResourceModule::Application() {
  static const ResourceModule* program = [] {
    InitProgramResources();
    return new ResourceModule(QStringLiteral(":/qm"), QString(), QString(), QByteArray());
  }();
  return *program;
}

std::unique_ptr<ResourceModule> ResourceModule::Load(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) ||
      file.size() > static_cast<qint64>(kMaxResourceFileBytes))
    return nullptr;
  QByteArray bytes = file.read(static_cast<qint64>(kMaxResourceFileBytes) + 1);
  const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
  if (!IsWellFormedResourceFile({data, static_cast<size_t>(bytes.size())})) return nullptr;
  // Each module gets a root of its own, so two modules never shadow each other.
  static std::atomic<int> next{1};
  const QString mapRoot = QStringLiteral("/qm-module-%1").arg(next++);
  if (!QResource::registerResource(data, mapRoot)) return nullptr;
  return std::unique_ptr<ResourceModule>(new ResourceModule(QStringLiteral(":") + mapRoot + QStringLiteral("/qm"),
                                                            QFileInfo(path).absoluteFilePath(), mapRoot,
                                                            std::move(bytes)));
}

QString ResourceModule::EntryPath(ResourceKind kind, int id) const {
  const ResourceEntry* e = FindResourceEntry(kind, id);
  if (!e) return {};
  const QString path = root_ + QLatin1Char('/') + QString::fromUtf8(e->name.data(), static_cast<qsizetype>(e->name.size()));
  return QFileInfo::exists(path) ? path : QString();
}

QImage ResourceModule::LoadBitmap(int id) const {
  const QString path = EntryPath(ResourceKind::Bitmap, id);
  return path.isEmpty() ? QImage() : QImage(path);
}

QImage ResourceModule::LoadIcon(int id, QSize size) const {
  const QString path = EntryPath(ResourceKind::Icon, id);
  if (path.isEmpty()) return {};
  QImage icon(path);
  if (icon.isNull() || size.isEmpty() || icon.size() == size) return icon;
  return icon.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::optional<QCursor> ResourceModule::LoadCursor(int id) const {
  const QString path = EntryPath(ResourceKind::Cursor, id);
  if (path.isEmpty()) return std::nullopt;
  QPixmap picture(path);
  if (picture.isNull()) return std::nullopt;
  const ResourceEntry* e = FindResourceEntry(ResourceKind::Cursor, id);
  return QCursor(picture, e->hotX, e->hotY);
}

std::optional<std::u16string> ResourceModule::LoadString(int id) const {
  QFile f(EntryPath(ResourceKind::String, id));
  if (f.fileName().isEmpty() || !f.open(QIODevice::ReadOnly) || f.size() > kMaxStringBytes) return std::nullopt;
  QString text = QString::fromUtf8(f.readAll());
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text.toStdU16String();
}

QUrl ResourceModule::SoundUrl(int id) const {
  const QString path = EntryPath(ResourceKind::Sound, id);
  return path.isEmpty() ? QUrl() : QUrl(QStringLiteral("qrc") + path);
}

std::u16string TextLine(const std::u16string& text, int index) {
  if (index < 0) return {};
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const size_t lf = text.find(u'\n', start);
    if (lf == std::u16string::npos) return {};
    start = lf + 1;
  }
  const size_t end = text.find(u'\n', start);
  return text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
}

}  // namespace qm
