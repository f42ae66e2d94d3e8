#include "kestrix.h"
int main() { return 0; }
