/*
 * Prints the post-processing library's configuration string as the body of a C
 * string literal. Run once when the build is configured; the engine compares the
 * recorded text with what the library reports at run time, so a library replaced
 * after the build is noticed.
 */
#include <libpostproc/postprocess.h>

#include <stdio.h>

int main(void)
{
    for (const unsigned char *p = (const unsigned char *)postproc_configuration(); *p; p++) {
        if (*p == '\\' || *p == '"')
            printf("\\%c", *p);
        else if (*p < 0x20 || *p > 0x7e)
            printf("\\%03o", *p);
        else
            putchar(*p);
    }
    return 0;
}
