#pragma once

#include <windows.h>

namespace framelatch {

// Owns a GDI object (a font, a bitmap) and deletes it on every path.
template <typename Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle object) : object_(object) {}
    ~GdiObject() { Reset(); }

    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Handle Get() const { return object_; }
    void Reset(Handle object = nullptr) {
        if (object_) DeleteObject(object_);
        object_ = object;
    }

private:
    Handle object_ = nullptr;
};

using GdiFont = GdiObject<HFONT>;
using GdiBitmap = GdiObject<HBITMAP>;

}  // namespace framelatch
