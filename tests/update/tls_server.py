# A loopback HTTPS server for the transfer tests: answers every request with "secure".
#     python3 tls_server.py CERT KEY     prints its port (127.0.0.1), serves until killed
import socket
import ssl
import sys

context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
print(listener.getsockname()[1], flush=True)
while True:
    connection, _ = listener.accept()
    try:
        with context.wrap_socket(connection, server_side=True) as tls:
            request = b""
            while b"\r\n\r\n" not in request:
                data = tls.recv(4096)
                if not data:
                    break
                request += data
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecure")
    except Exception:  # a failed handshake or a client that left: serve the next one
        connection.close()
