#include "preloadenvironment.h"

#include <QtGlobal>

namespace {

constexpr char PreloadStem[] = "libumockdev-preload";
constexpr char AsanLinkOrderKey[] = "verify_asan_link_order";
constexpr char ListSeparator = ':';

QByteArray appended(const QByteArray &list, const QByteArray &entry)
{
    return list.isEmpty() ? entry : list + ListSeparator + entry;
}

} // namespace

QByteArray PreloadEnvironment::withPreload(const QByteArray &ldPreload)
{
    return ldPreload.contains(PreloadStem) ? ldPreload : appended(ldPreload, PreloadLibrary);
}

QByteArray PreloadEnvironment::withAsanOption(const QByteArray &asanOptions)
{
    return asanOptions.contains(AsanLinkOrderKey) ? asanOptions
                                                  : appended(asanOptions, AsanLinkOrderOption);
}

bool PreloadEnvironment::isActive()
{
    return qgetenv(PreloadVariable).contains(PreloadStem);
}

void PreloadEnvironment::apply()
{
    qputenv(PreloadVariable, withPreload(qgetenv(PreloadVariable)));
    qputenv(AsanVariable, withAsanOption(qgetenv(AsanVariable)));
}
