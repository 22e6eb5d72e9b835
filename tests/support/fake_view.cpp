#include "support/fake_view.h"
