var secretOfTheBook = 'SECRET-SCRIPT';
