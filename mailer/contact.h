// The author's address and the maker's home page: the one place both programs take them from,
// so the console program's mail option and Quillpost always open the same message.
#pragma once

// The author's e-mail address, as the welcome screen shows it.
constexpr char AuthorAddress[] = "tobrenn@penwick-software.example";
// The URL that opens a new message to the author.
constexpr char MailUrl[] = "mailto:tobrenn@penwick-software.example";
// The maker's home page, for the welcome screen and the option -penwick.
constexpr char HomePage[] = "http://www.penwick-software.example/";
