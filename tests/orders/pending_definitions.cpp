// TEMPORARY: remove with pending_definitions.inc once main has these parts.
#include "trans/pending_definitions.inc"
