// Display scale: the pixel ratio of the primary display, the image scale chosen from
// it (images ship in "1x" and "2x" folders) and the resolution of "%x/" in resource
// paths. Also reads the application style sheet, whose image URLs carry "%x/" too.
//
// The application object creates the one VelaScale after its QApplication base (the
// screen must be known) and before the skin is loaded, and deletes it at the end. The
// ratio is read once; moving to another screen changes nothing.
#pragma once

#include <QString>

class VelaScale
{
public:
    // Takes the ratio of the primary display (1.0 without a display) and becomes the
    // current scale until it is deleted.
    VelaScale();
    // Takes the given ratio; for tools and tests.
    explicit VelaScale(double devicePixelRatio);
    ~VelaScale();

    // The current scale object, or nullptr before it is created and after it is gone.
    static VelaScale *Instance();

    double DevicePixelRatio() const;
    int ImageScale() const;

    // 2 when the ratio rounded up exceeds 1, else 1.
    static int ImageScaleFor(double devicePixelRatio);

    // Replaces every "%x/" of text by the scale and "x/" ("%x/" becomes "2x/" at scale
    // 2). Scale 0 means the current image scale, which is 1 while no VelaScale exists.
    // Other placeholders ("%0", "%1") are left for the caller's QString::arg.
    static QString ResolveScalePath(const QString &text, int scale = 0);

    // Reads a style sheet resource as UTF-8 (up to a NUL byte, if any) with "%x/"
    // resolved for the current scale; empty when the file cannot be read.
    static QString ReadStyleSheet(const QString &path);

private:
    VelaScale(const VelaScale &) = delete;
    VelaScale &operator=(const VelaScale &) = delete;

    double m_devicePixelRatio;
    int m_imageScale;
    VelaScale *m_previous;    // the scale that was current before this one
};
