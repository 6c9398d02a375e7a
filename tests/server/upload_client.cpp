// A client process that stores one file as a blob on a team server, for tests that kill it midway.
//
//   upload_client URL TOKEN FILE
//
// Prints the upload's answer (200 held already, 201 stored) and exits 0 when the server took it.
#include <vyr/cld/remote/remote.h>

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: upload_client URL TOKEN FILE\n";
        return 2;
    }
    vyr::cld::remote::Connection connection;
    connection.url = argv[1];
    connection.token = argv[2];
    const auto hash = vyr::cld::remote::file_hash(argv[3]);
    if (!hash) {
        std::cerr << "cannot read the file\n";
        return 1;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(argv[3], error);
    const int code = vyr::cld::remote::BlobClient(connection).upload(argv[3], *hash, static_cast<std::int64_t>(size));
    std::cout << code << std::endl;
    return error || code >= 300 ? 1 : 0;
}
