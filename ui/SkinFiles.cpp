// The skin's files: program and resource folders, the skin archive, and images read from them.

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
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

bool ReadDiskFile(const std::string& path, std::string& bytes)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
    bytes.assign(data.constData(), static_cast<size_t>(data.size()));
    return true;
}

} // namespace

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
    std::string name = NormalisePath(path);
    if (name.empty())
        return false;
    bool tryDefault = false;
    {
        std::lock_guard lock(Skin().mutex);
        tryDefault = !Skin().zipTried;
    }
    if (tryDefault)
        UseResourceZip(kResourceZip, kSkinResourceId);
    {
        std::lock_guard lock(Skin().mutex);
        if (Skin().zip.IsOpen()) {
            std::string inZip = name.front() == '/' ? name.substr(1) : name;
            if (Skin().zip.Read(inZip, bytes))
                return true;
            if (inZip.rfind("skin/", 0) != 0 && Skin().zip.Read("skin/" + inZip, bytes))
                return true;
        }
    }
    if (name.front() == '/' && ReadDiskFile(name, bytes))
        return true;
    if (ReadDiskFile(GetResourcePath().ToUtf8() + name, bytes))
        return true;
    return ReadDiskFile(GetInstancePath().ToUtf8() + name, bytes);
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
    if (CPaintManagerUI::LoadSkinFile(path, bytes)) {
        QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        entry->nFrames = std::max(1, reader.imageCount());
        entry->image = reader.read();
        if (entry->nFrames > 1)
            entry->bytes = data;
    }
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
