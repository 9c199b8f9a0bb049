#include "BuildSettings.h"

#include <cstring>

#include "UpdateConfig.h"

std::string UpdateBaseUrl;

namespace {
formkit::ShortString gClientCode;
}

const formkit::ShortString& ClientCode() { return gClientCode; }

void StartUpdateFrm() {
  UpdateBaseUrl = UPDATE_BASE_URL;
  std::string code = UPDATE_CLIENT_CODE;
  if (code.size() > 10) code.resize(10);
  gClientCode = formkit::ShortString();
  gClientCode.Length = static_cast<std::uint8_t>(code.size());
  std::memcpy(gClientCode.Chars, code.data(), code.size());
}

void FinishUpdateFrm() {
  UpdateBaseUrl.clear();
  UpdateBaseUrl.shrink_to_fit();
}
