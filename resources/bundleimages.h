#ifndef VELMORA_RESOURCES_BUNDLEIMAGES_H
#define VELMORA_RESOURCES_BUNDLEIMAGES_H

#include <QIcon>
#include <QString>

// Icons of the images compiled into the program (":/..." paths). Qt's own
// icon engine decodes an image file as soon as an icon is made from it, and
// the form makes its icons from images stored at up to 800 x 800 that the
// first screen never shows. Icons of bundle paths therefore decode their
// image the first time they are painted (or a pixmap is asked for), once per
// path for the whole process; until then their size comes from the image
// file's header. What they paint, and what pixmap(), actualSize() and
// availableSizes() answer, is what Qt's own engine gives for the same file.
//
// Every QIcon made from a bundle path is such an icon, whether made by the
// form's generated code, QIcon(path) or icon() below: an icon-engine plugin
// built into the program takes the bundle's PNG and JPEG paths.
namespace BundleImages {

// An icon of the image at `path`, as QIcon(path) makes it, without asking
// Qt's file-type database which engine takes the file: for a path without a
// suffix (most bundle paths) that costs about as much as decoding a small
// image, which matters for icons made once per table row.
QIcon icon(const QString &path);

// Whether icons of bundle paths decode on first paint (the default). When
// off, new icons use Qt's own engine and decode at once; tests compare the
// two this way.
void setLazy(bool on);

// How many times the image at `path` has been decoded for icons.
int decodeCount(const QString &path);

} // namespace BundleImages

#endif
