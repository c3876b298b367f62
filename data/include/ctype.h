/* Character classes of the "C" locale: ASCII, and no class for the codes
 * from 128 to 255 or for EOF (-1). Each is a small function of its own.
 */
#ifndef __CTYPE_H
#define __CTYPE_H

int isalnum(int c);
int isalpha(int c);
int iscntrl(int c);
int isdigit(int c);
int isgraph(int c);
int islower(int c);
int isprint(int c);
int ispunct(int c);
int isspace(int c);
int isupper(int c);
int isxdigit(int c);
int tolower(int c);
int toupper(int c);

#endif
