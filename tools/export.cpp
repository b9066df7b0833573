#include "export/subaudioexporter.h"

int main() { return 0; }
