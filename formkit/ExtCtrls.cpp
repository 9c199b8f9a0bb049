#include "ExtCtrls.h"

namespace formkit {

FK_IMPLEMENT_CLASS(TImage, TGraphicControl);

TPersistent* TImage::FindSubObject(const std::string& name) {
  if (name == "Picture") return GetPicture();
  return TGraphicControl::FindSubObject(name);
}

void TImage::Paint() {
  if (!Picture) {
    TGraphicControl::Paint();
    return;
  }
  // BoundsRect is in the parent's coordinates already; the origin is not added.
  Picture->Draw(BoundsRect(), *GetCanvas());
}

void TImage::ChangeScale(std::int32_t num, std::int32_t den) {
  TGraphicControl::ChangeScale(num, den);
  if (Picture) Picture->Scale(num, den);
}

TPicture* TImage::GetPicture() {
  if (!Picture) Picture.reset(new TPicture());
  return Picture.get();
}

void StartExtCtrls() { RegisterComponentClasses({&TImage::ClassInfo}); }

}  // namespace formkit
