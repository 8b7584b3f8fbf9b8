// Prints a libFuzzer dictionary of the engine's option names ("-name" for every
// row of the option table, and the separator of the argument fuzzer), so the
// fuzzer finds real options sooner than by chance.
#include "options.h"

#include <cstdio>
#include <initializer_list>

int main()
{
    printf("sep=\"\\x00\"\n");
    int n = 0;
    for (const OptionEntry *po = option_table; po->name; po++)
        printf("opt%d=\"-%s\"\n", n++, po->name);
    for (const char *spec : {":v", ":a", ":s", ":0", ":v:0", "copy", "libx264", "mp4"})
        printf("opt%d=\"%s\"\n", n++, spec);
    return 0;
}
