# shellcheck shell=bash
# The HTTPS side of the Windows runs under Wine, on 127.0.0.1 only:
#   https_test_pki DIR          a test root (DIR/ca.pem) and certificates made by openssl:
#                               DIR/localhost.{pem,key} (the root's, for localhost),
#                               DIR/wrong-name.{pem,key} (the root's, for another name),
#                               DIR/untrusted.{pem,key} (self-signed, for localhost)
#   https_test_leaf DIR NAME CN EXTENSION...
#                               DIR/NAME.{pem,key}: a certificate of the root in DIR for the
#                               common name CN with the given X.509 extensions
#   free_port                   prints a port that nothing listens on now
#   start_test_nginx DIR PKI DOCROOT TLS PLAIN [WRONG UNTRUSTED]
#                               nginx serving DOCROOT over TLS on port TLS (localhost's
#                               certificate from the folder PKI of https_test_pki) and plain HTTP on PLAIN, and with the wrong-name
#                               and self-signed certificates on WRONG and UNTRUSTED; it also
#                               accepts the absolute form of a request line ("GET https://
#                               localhost:8443/x"), which Wine sends inside a proxy's tunnel.
#                               Its pid is added to the caller's array `pids`.
#   start_test_proxy DIR PORT   tinyproxy on PORT, logging every request to DIR/proxy.log;
#                               its pid is added to `pids`.
#   wait_listening PORT...      waits until something listens on each port (10 s at most)
# Callers source this file.

https_test_pki() { # dir
    local dir=$1 name
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3 -subj "/CN=Quelda Test Root" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        2>/dev/null
    for name in localhost:localhost wrong-name:wrong-name.quelda.test; do
        https_test_leaf "$dir" "${name%%:*}" "${name#*:}" "subjectAltName=DNS:${name#*:}" \
            extendedKeyUsage=serverAuth keyUsage=digitalSignature,keyEncipherment
    done
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
        -addext subjectAltName=DNS:localhost -keyout "$dir/untrusted.key" \
        -out "$dir/untrusted.pem" 2>/dev/null
    [ -s "$dir/localhost.pem" ] && [ -s "$dir/wrong-name.pem" ] && [ -s "$dir/untrusted.pem" ]
}

https_test_leaf() { # dir name common-name extension...
    local dir=$1 name=$2 cn=$3
    shift 3
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$cn" -keyout "$dir/$name.key" \
        -out "$dir/$name.csr" 2>/dev/null &&
        printf '%s\n' basicConstraints=CA:FALSE "$@" >"$dir/$name.ext" &&
        openssl x509 -req -in "$dir/$name.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -days 2 -extfile "$dir/$name.ext" -out "$dir/$name.pem" 2>/dev/null
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_listening() { # port...
    local port deadline=$((SECONDS + 10))
    for port in "$@"; do
        until python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' \
            "$port" 2>/dev/null; do
            [ "$SECONDS" -lt "$deadline" ] || return 1
            sleep 0.1
        done
    done
}

start_test_nginx() { # dir pki docroot tls plain [wrong untrusted]
    local dir=$1 pki=$2 docroot=$3 tls=$4 plain=$5 wrong=${6:-} untrusted=${7:-}
    mkdir -p "$dir/tmp"
    server() { # port ssl? certificate-name
        local listen="127.0.0.1:$1"
        [ "$2" = ssl ] && listen+=" ssl"
        echo "    server {"
        echo "        listen $listen;"
        echo "        server_name localhost;"
        if [ "$2" = ssl ]; then
            echo "        ssl_certificate $pki/$3.pem;"
            echo "        ssl_certificate_key $pki/$3.key;"
            echo "        ssl_protocols TLSv1.2 TLSv1.3;"
        fi
        echo "        root $docroot;"
        echo "    }"
    }
    {
        echo "daemon off;"
        echo "worker_processes 1;"
        echo "pid $dir/nginx.pid;"
        echo "error_log $dir/error.log;"
        echo "events { worker_connections 64; }"
        echo "http {"
        echo "    access_log $dir/access.log;"
        echo "    client_body_temp_path $dir/tmp/body;"
        echo "    proxy_temp_path $dir/tmp/proxy;"
        echo "    fastcgi_temp_path $dir/tmp/fastcgi;"
        echo "    uwsgi_temp_path $dir/tmp/uwsgi;"
        echo "    scgi_temp_path $dir/tmp/scgi;"
        echo "    types { application/octet-stream bin exe msi; application/json json;"
        echo "            application/x-ns-proxy-autoconfig pac; }"
        echo "    default_type application/octet-stream;"
        server "$tls" ssl localhost
        server "$plain" plain
        [ -z "$wrong" ] || server "$wrong" ssl wrong-name
        [ -z "$untrusted" ] || server "$untrusted" ssl untrusted
        echo "}"
    } >"$dir/nginx.conf"
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
    pids+=($!)
}

start_test_proxy() { # dir port
    local dir=$1 port=$2
    {
        echo "Port $port"
        echo "Listen 127.0.0.1"
        echo "Timeout 60"
        echo "LogFile \"$dir/proxy.log\""
        echo "LogLevel Info"
        echo "MaxClients 20"
        echo "Allow 127.0.0.1"
        echo "ViaProxyName \"quelda-test-proxy\""
    } >"$dir/tinyproxy.conf"
    : >"$dir/proxy.log"
    tinyproxy -d -c "$dir/tinyproxy.conf" >/dev/null 2>&1 &
    pids+=($!)
}
