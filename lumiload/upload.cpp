#include "upload.h"

#include "report.h"
#include "socket.h"

int upload_firmware(FILE *alf_file, AlfHeader header, uint32_t source, uint32_t fixture, Transfer *transfer)
{
    Transfer own;
    Transfer *t = transfer ? transfer : &own;
    *t = Transfer();
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
    start_transfer(t, alf_file, header, fixture, clock_us());
    run_transfers(&socket, alf_file, t, 1);

done:
    close_artnet_socket(&socket);  // also when it never opened
    const bool succeeded = t->result == TransferResult::Uploaded;
    if (reported && succeeded)
        report_upload_success();
    else if (reported)
        report_upload_failed();
    return succeeded ? 0 : 1;
}

int confirm_restart(uint32_t source, uint32_t broadcast, uint32_t fixture, uint16_t version, unsigned limit_s,
                    Transfer *transfer)
{
    Transfer own;
    Transfer *t = transfer ? transfer : &own;
    *t = Transfer();
    ArtSocket socket = open_artnet_socket(source);
    if (artnet_socket_is_open(socket)) {
        receive_broadcasts_too(&socket, source, broadcast);  // some fixtures broadcast their poll replies
        TransferMode mode;
        mode.restart_limit_s = limit_s;
        start_confirmation(t, fixture, version, clock_us(), mode);
        run_transfers(&socket, nullptr, t, 1);
    }
    close_artnet_socket(&socket);  // also when it never opened
    return t->result == TransferResult::Confirmed ? 0 : 1;
}
