/* 3A statistics fetch and parse. */
#ifndef CAMLIB_IMG_ALGO_AAA_PARSER_H
#define CAMLIB_IMG_ALGO_AAA_PARSER_H

/* Channels the parser walks, 1 to 4; -1 outside. */
int parse_aaa_set_channel_num(int n);
int parse_aaa_get_channel_num(void);

#endif
