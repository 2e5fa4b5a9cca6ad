#pragma once
// The program's resources by id (platform/resource_ids.h): from its
// compiled-in Qt resources, or from a resource module, a Qt binary resource
// file (made with rcc --binary) that is registered under a root of its own
// while the module object lives. A missing module, an id the table does not
// know or an entry the module lacks all give an empty result.
#include <QByteArray>
#include <QCursor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>

#include "platform/resource_ids.h"

namespace qm {

class ResourceModule {
 public:
  // The program's own resources.
  static const ResourceModule& Application();
  // Registers a module file; null when it cannot be read as one or any
  // offset inside it points outside it.
  static std::unique_ptr<ResourceModule> Load(const QString& path);
  ~ResourceModule();
  ResourceModule(const ResourceModule&) = delete;
  ResourceModule& operator=(const ResourceModule&) = delete;

  // Resource path of an id's entry (":/..."); empty when it does not exist here.
  QString EntryPath(ResourceKind kind, int id) const;
  QImage LoadBitmap(int id) const;
  // An icon, scaled to the given size unless that is empty.
  QImage LoadIcon(int id, QSize size = {}) const;
  std::optional<QCursor> LoadCursor(int id) const;
  // A string; a text file's final line feed is not part of it.
  std::optional<std::u16string> LoadString(int id) const;
  // "qrc:" address of a sound, for the media player; empty when missing.
  QUrl SoundUrl(int id) const;

  const QString& file() const { return file_; }

 private:
  ResourceModule(QString root, QString file, QString mapRoot, QByteArray bytes);

  QString root_;     // ":/qm" for the program, ":/<mapRoot>/qm" for a module
  QString file_;     // the module file; empty for the program
  QString mapRoot_;  // where the module's bytes are registered
  QByteArray bytes_;  // the module as checked: Qt reads these very bytes
};

// Line `index` (from 0; lines end at line feeds) of a text; empty when there is none.
std::u16string TextLine(const std::u16string& text, int index);

}  // namespace qm
