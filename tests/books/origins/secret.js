var secretOfTheBook = 'OWN-SCRIPT';
