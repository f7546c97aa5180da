<?php
// The IP-check page: answers the caller's public address as plain text followed by CR LF.
// The program keeps the answer's last line, so nothing else may follow the address.
header('Content-Type: text/plain; charset=us-ascii');
header('Cache-Control: no-store, max-age=0');
echo $_SERVER['REMOTE_ADDR'], "\r\n";
