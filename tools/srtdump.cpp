#include "subtitles/srtparser.h"

int main() { return 0; }
