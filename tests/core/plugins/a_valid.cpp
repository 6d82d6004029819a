// A library with all six exports (the four required and both optional ones).
#include "test_filters.h"
#include "vorlan/export.h"

VORLAN_FILTER_LIBRARY(vorlan::testplugins::TestValid, "Test Valid Library")
