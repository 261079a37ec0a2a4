#include "mending/line_end.h"

const std::string_view kStoredLineEnd = "\n";
