/* civetweb, compiled whole in this unit with one accessor the server needs: the
 * connection's socket, so that a request's body is read only as fast as it arrives and
 * the server's own deadline over the whole body holds (civetweb's reads wait for every
 * byte asked for). */
#include "civetweb.c"

int lumetra_mg_socket(const struct mg_connection *conn)
{
	return conn != NULL ? (int)conn->client.sock : -1;
}
