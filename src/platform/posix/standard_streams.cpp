#include "platform/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void openClosedStandardStreams()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is this one.
        const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened != descriptor && opened >= 0)
            close(opened);
    }
}
