#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "fileio/FileQuery.h"
#include "plan/Refusal.h"

// The words behind a refused field's mark. A planning tool that refuses adds
// nothing and says nothing aloud; the field it refused is marked instead, and
// its tooltip says why in the window's language.
namespace tessera::ui {

// Why a planner refused a field's value; size is the source size the value
// was planned against (named in BeyondEnd).
[[nodiscard]] QString RefusalHint(const Refusal& refusal, std::int64_t size);

// Why the source at path has no size to plan by (FileSize gave -1 with why).
[[nodiscard]] QString SourceHint(const std::string& path, Unsized why);

// A search that found nothing is no refusal: it adds the whole source of size
// bytes as one line (nothing for an empty one). Its field is marked as a
// refused one is, with this for why, so that line is not taken for a cut.
[[nodiscard]] QString NotFoundHint(std::int64_t size);

}  // namespace tessera::ui
