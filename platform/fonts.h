#ifndef VELMORA_PLATFORM_FONTS_H
#define VELMORA_PLATFORM_FONTS_H

// The system's font configuration is read the first time any text is
// measured, a few milliseconds of parsing that a program building a window
// has to wait for. startReadingFonts() reads it on another thread instead,
// while the application object and the window are being made;
// waitForFonts() waits for that reading, and must run before the first text
// is measured: Qt would otherwise read the whole configuration a second time
// instead of waiting for the first reading. Without startReadingFonts(),
// waitForFonts() does nothing and Qt reads the configuration as usual.
namespace Platform {

// Call at the start of main(), before the application object.
void startReadingFonts();

void waitForFonts();

} // namespace Platform

#endif
