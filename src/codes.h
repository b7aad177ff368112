// Result codes the driver returns and the FOURCCs that name it. They are
// part of the public interface, so they live with the public headers.
#pragma once

#include "talverox/codes.h"
