// Toolkit module ExtCtrls: the image control.
#pragma once

#include "Controls.h"

namespace formkit {

class TImage : public TGraphicControl {
  FK_CLASS()
 public:
  // "Picture" routes "Picture.Data" to the picture.
  TPersistent* FindSubObject(const std::string& name) override;
  void Paint() override;
  // The picture is drawn at the new scale too.
  void ChangeScale(std::int32_t num, std::int32_t den) override;
  TPicture* GetPicture();

  std::unique_ptr<TPicture> Picture;
};

// Registers TImage with the form-stream reader.
void StartExtCtrls();

}  // namespace formkit
