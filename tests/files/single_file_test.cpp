#include "support/mock_service.h"
#include <vyr/cld/files.h>
TEST(Smoke, X) {}
