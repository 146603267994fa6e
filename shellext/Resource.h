// Resource identifiers for the resource script (the C++ side uses Guids.h).
#define IDR_MODULE_SCRIPT 101
#define IDR_CLASS_SCRIPT 106
#define IDS_PROJNAME 100
