#include "upload.h"

#include "report.h"
#include "socket.h"
#include "transfer.h"

int upload_firmware(FILE *alf_file, AlfHeader header, uint32_t source, uint32_t fixture)
{
    Transfer transfer;
    bool reported = false;  // the blockCount and progress lines are out
    ArtSocket socket = open_artnet_socket(source);

    // Before the progress line only the failing step's own message is printed.
    if (!artnet_socket_is_open(socket))
        goto done;
    if (std::fseek(alf_file, 0, SEEK_SET) != 0 || std::ferror(alf_file)) {
        report_seek_start_failed();
        goto done;
    }
    report_upload_start(alf_block_count(header.data_length));
    reported = true;
    // The engine of many transfers, with one.
    start_transfer(&transfer, alf_file, header, fixture, clock_us());
    run_transfers(&socket, alf_file, &transfer, 1);

done:
    close_artnet_socket(&socket);  // also when it never opened
    if (reported && transfer.succeeded)
        report_upload_success();
    else if (reported)
        report_upload_failed();
    return transfer.succeeded ? 0 : 1;
}
