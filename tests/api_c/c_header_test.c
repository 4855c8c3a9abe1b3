/* Compiled as C: the public header must stand on its own and link. */
#include <stdio.h>
#include <string.h>

#include "zpapi.h"

int main(void) {
    char version[ZP_VERSION_SIZE];
    static uint8_t image[ZP_IMAGE_SIZE];
    memset(image, 128, sizeof image);
    ZPVersion(version);
    if (strlen(version) != 46) {
        fprintf(stderr, "version text has %u characters\n", (unsigned)strlen(version));
        return 1;
    }
    if (ZPFingerDetect(image, 0) != 0) {
        fprintf(stderr, "uniform image detected as a finger\n");
        return 1;
    }
    return 0;
}
