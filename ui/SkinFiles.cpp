// The skin's files: program and resource folders, the skin archive, and images read from them.

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <limits>
#include <mutex>

#include "platform/Paths.h"
#include "platform/Trace.h"
#include "ui/PaintManager.h"
#include "ui/Resources.h"
#include "ui/private/UiPrivate.h"
#include "ui/private/ZipReader.h"

namespace UiLib {

namespace {

struct SkinState {
    std::mutex mutex;
    HINSTANCE instance = nullptr;
    CDuiString resourcePath;
    ZipReader zip;
    bool zipTried = false;
};

SkinState& Skin()
{
    static SkinState state;
    return state;
}

std::string NormalisePath(const CDuiString& path)
{
    std::string p = path.ToUtf8();
    std::replace(p.begin(), p.end(), '\\', '/');
    std::string out;
    for (char c : p) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    return out;
}

// Reads a whole file of at most `maxBytes`; a larger one is refused without being read (and so is
// one that grows past the bound while it is read).
bool ReadDiskFile(const std::string& path, std::string& bytes, size_t maxBytes)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (static_cast<unsigned long long>(file.size()) > maxBytes) {
        platform::TraceF("UiLib: '%s' is larger than %zu bytes", path.c_str(), maxBytes);
        return false;
    }
    QByteArray data = maxBytes >= static_cast<size_t>(std::numeric_limits<qint64>::max())
                          ? file.readAll()
                          : file.read(static_cast<qint64>(maxBytes) + 1);
    if (static_cast<size_t>(data.size()) > maxBytes)
        return false;
    bytes.assign(data.constData(), static_cast<size_t>(data.size()));
    return true;
}

} // namespace

// LoadSkinFile for files of at most `maxBytes`.
bool LoadSkinFileWithin(const CDuiString& path, std::string& bytes, size_t maxBytes);

// ---- process-wide ------------------------------------------------------------------------------

void CPaintManagerUI::SetInstance(HINSTANCE instance)
{
    Skin().instance = instance;
    EnsureApplication();
}

HINSTANCE CPaintManagerUI::GetInstance()
{
    return Skin().instance;
}

CDuiString CPaintManagerUI::GetInstancePath()
{
    return CDuiString::FromUtf8(platform::ProgramFolder());
}

void CPaintManagerUI::SetResourcePath(const CDuiString& path)
{
    std::lock_guard lock(Skin().mutex);
    Skin().resourcePath = path;
    if (!path.IsEmpty() && path[path.GetLength() - 1] != u'/' && path[path.GetLength() - 1] != u'\\')
        Skin().resourcePath += u'/';
}

CDuiString CPaintManagerUI::GetResourcePath()
{
    std::lock_guard lock(Skin().mutex);
    if (Skin().resourcePath.IsEmpty())
        return GetInstancePath();
    return Skin().resourcePath;
}

bool CPaintManagerUI::SetResourceZip(const void* data, size_t size)
{
    std::lock_guard lock(Skin().mutex);
    Skin().zipTried = true;
    bool ok = Skin().zip.Open(std::string(static_cast<const char*>(data), size));
    if (!ok)
        platform::Trace("UiLib: the skin archive is not a readable zip");
    return ok;
}

bool CPaintManagerUI::UseResourceZip(int resourceType, int resourceId)
{
    const void* data = nullptr;
    size_t size = 0;
    if (!FindResource(resourceType, resourceId, data, size)) {
        platform::TraceF("UiLib: no resource %d of type %d", resourceId, resourceType);
        std::lock_guard lock(Skin().mutex);
        Skin().zipTried = true;
        return false;
    }
    return SetResourceZip(data, size);
}

bool CPaintManagerUI::LoadSkinFile(const CDuiString& path, std::string& bytes)
{
    return LoadSkinFileWithin(path, bytes, std::numeric_limits<size_t>::max());
}

bool LoadImageFile(const CDuiString& path, std::string& bytes)
{
    return LoadSkinFileWithin(path, bytes, CPaintManagerUI::kMaxImageFileBytes);
}

bool ImageSizeAllowed(QImageReader& reader)
{
    // Qt's own bound, in MiB, for decoders whose header gives no size: one frame of the most pixels.
    static const bool limited = [] {
        QImageReader::setAllocationLimit(
            static_cast<int>(CPaintManagerUI::kMaxImagePixels * 4 / (1024 * 1024)) + 1);
        return true;
    }();
    (void)limited;
    QSize size = reader.size();
    if (!size.isValid())
        return true;
    return static_cast<long long>(size.width()) * size.height() <= CPaintManagerUI::kMaxImagePixels;
}

bool LoadSkinFileWithin(const CDuiString& path, std::string& bytes, size_t maxBytes)
{
    std::string name = NormalisePath(path);
    if (name.empty())
        return false;
    bool tryDefault = false;
    {
        std::lock_guard lock(Skin().mutex);
        tryDefault = !Skin().zipTried;
    }
    if (tryDefault)
        CPaintManagerUI::UseResourceZip(kResourceZip, kSkinResourceId);
    {
        std::lock_guard lock(Skin().mutex);
        if (Skin().zip.IsOpen()) {
            std::string inZip = name.front() == '/' ? name.substr(1) : name;
            if (Skin().zip.Read(inZip, bytes))
                return bytes.size() <= maxBytes;
            if (inZip.rfind("skin/", 0) != 0 && Skin().zip.Read("skin/" + inZip, bytes))
                return bytes.size() <= maxBytes;
        }
    }
    if (name.front() == '/' && ReadDiskFile(name, bytes, maxBytes))
        return true;
    if (ReadDiskFile(CPaintManagerUI::GetResourcePath().ToUtf8() + name, bytes, maxBytes))
        return true;
    return ReadDiskFile(CPaintManagerUI::GetInstancePath().ToUtf8() + name, bytes, maxBytes);
}

const TImageInfo* CPaintManagerUI::GetImage(const CDuiString& path)
{
    return ImageFor(this, path);
}

const ImageEntry* ImageFor(CPaintManagerUI* manager, const CDuiString& path)
{
    if (manager == nullptr || path.IsEmpty())
        return nullptr;
    CPaintManagerUI::Impl* impl = manager->GetImpl();
    auto it = impl->images.find(path.Str());
    if (it != impl->images.end())
        return it->second.get();
    if (impl->missingImages.count(path.Str()) != 0)
        return nullptr;
    std::string bytes;
    auto entry = std::make_unique<ImageEntry>();
    if (LoadImageFile(path, bytes)) {
        QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        if (ImageSizeAllowed(reader)) {
            entry->nFrames = std::max(1, reader.imageCount());
            entry->image = reader.read();
            if (entry->nFrames > 1)
                entry->bytes = data;
        }
    }
    if (static_cast<long long>(entry->image.width()) * entry->image.height() >
        CPaintManagerUI::kMaxImagePixels)
        entry->image = QImage(); // a format that told no size in advance
    if (entry->image.isNull()) {
        platform::TraceF("UiLib: image '%s' is missing or unreadable", path.ToUtf8().c_str());
        impl->missingImages[path.Str()] = true;
        return nullptr;
    }
    entry->image = entry->image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    entry->nX = entry->image.width();
    entry->nY = entry->image.height();
    entry->bAlpha = entry->image.hasAlphaChannel();
    const ImageEntry* result = entry.get();
    impl->images.emplace(path.Str(), std::move(entry));
    return result;
}

void CPaintManagerUI::RemoveImage(const CDuiString& path)
{
    m_impl->images.erase(path.Str());
    m_impl->missingImages.erase(path.Str());
}

void CPaintManagerUI::RemoveAllImages()
{
    m_impl->images.clear();
    m_impl->missingImages.clear();
}

} // namespace UiLib
